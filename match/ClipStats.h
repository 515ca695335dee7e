// Weighted per-channel mean and deviation of an image, optionally masked.
#ifndef TINTBRIDGE_CLIP_STATS_H
#define TINTBRIDGE_CLIP_STATS_H

#include "lut/ImageView.h"
#include "match/ColorSpace.h"

struct ClipStats {
  float mean[3];
  float deviation[3];
};

// `image` is an RGBA float image (four floats a pixel); `mask` may be null.
void computeClipStats(const ImageView &image, ColorSpace colorSpace, ClipStats &stats, const MaskView *mask);

#endif
