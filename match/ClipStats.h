// Weighted per-channel mean and deviation of an image, optionally masked.
#ifndef TINTBRIDGE_CLIP_STATS_H
#define TINTBRIDGE_CLIP_STATS_H

#include <vector>

#include "lut/ImageView.h"
#include "match/ColorSpace.h"

struct ClipStats {
  float mean[3];
  float deviation[3];
};

// `image` is an RGBA float image (four floats a pixel); `mask` may be null.
void computeClipStats(const ImageView &image, ColorSpace colorSpace, ClipStats &stats, const MaskView *mask);

// The counting samples of one image, converted to the working space: four
// floats a sample (c0, c1, c2, weight), in the order of the walk.
struct ClipSamples {
  std::vector<float> values;
};

// The samples computeClipStats would sum. May throw std::bad_alloc.
void gatherClipSamples(const ImageView &image, ColorSpace colorSpace, const MaskView *mask, ClipSamples &samples);

// The statistics of several frames' samples taken together, each sample's
// weight times its frame's weight; computeClipStats's two passes over one
// frame with weight 1. Frames given the same samples are summed once, with
// their weights added. May throw std::bad_alloc.
void pooledClipStats(const ClipSamples *const *frames, const float *weights, int count, ClipStats &stats);

#endif
