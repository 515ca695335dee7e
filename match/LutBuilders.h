// The two LUT builders. Both fill every entry of `lut` (whose size is already
// allocated) and set `lut.valid` last.
#ifndef TINTBRIDGE_LUT_BUILDERS_H
#define TINTBRIDGE_LUT_BUILDERS_H

#include "lut/MatchLut.h"
#include "match/ClipStats.h"
#include "match/ColorSpace.h"

void buildDifferentClipsLut(const float *sourcePixels, int sourceWidth, int sourceHeight, int sourceRowBytes,
                            const float *referencePixels, int referenceWidth, int referenceHeight,
                            int referenceRowBytes, MatchLut &lut, float smoothing, ColorSpace colorSpace,
                            PreserveMode preserveMode, const MaskView *sourceMask, const MaskView *referenceMask);

void buildSameFrameLut(const float *sourcePixels, int sourceWidth, int sourceHeight, int sourceRowBytes,
                       const float *referencePixels, int referenceWidth, int referenceHeight, int referenceRowBytes,
                       MatchLut &lut, float smoothing, PreserveMode preserveMode);

#endif
