// Weighted per-channel mean and deviation of an image, optionally masked.
#ifndef TINTBRIDGE_CLIP_STATS_H
#define TINTBRIDGE_CLIP_STATS_H

#include "match/ColorSpace.h"

struct ClipStats {
  float mean[3];
  float deviation[3];
};

// A read-only view of a float mask image; owns nothing.
struct MaskView {
  const float *pixels;  // pixel at the origin of the mask's bounds; may be null
  int width;
  int height;
  int rowBytes;         // may be negative
  int componentCount;   // 1, 3 or 4
};

// `pixels` is an RGBA float image (four floats a pixel); `mask` may be null.
void computeClipStats(const float *pixels, int width, int height, int rowBytes, ColorSpace colorSpace,
                      ClipStats &stats, const MaskView *mask);

#endif
