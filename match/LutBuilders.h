// The two LUT builders. Both fill every entry of `lut` (whose size is already
// allocated) and set `lut.valid` last. Source and Reference are RGBA float
// views (four floats a pixel).
#ifndef TINTBRIDGE_LUT_BUILDERS_H
#define TINTBRIDGE_LUT_BUILDERS_H

#include "lut/ImageView.h"
#include "lut/MatchLut.h"
#include "match/ClipStats.h"
#include "match/ColorSpace.h"

// The smoothing the effect builds with.
constexpr float kLutSmoothing = 5.0f;

// False when the scratch memory for smoothing could not be had: the table is
// then left unsmoothed (and still valid).
bool buildDifferentClipsLut(const ImageView &source, const ImageView &reference, MatchLut &lut, float smoothing,
                            ColorSpace colorSpace, PreserveMode preserveMode, const MaskView *sourceMask,
                            const MaskView *referenceMask);

// False when the scratch memory for the build could not be had: the table is
// then the identity and not valid. With `skipTransparent` a pair in which
// either pixel's alpha is not above 0 is no sample.
bool buildSameFrameLut(const ImageView &source, const ImageView &reference, MatchLut &lut, float smoothing,
                       PreserveMode preserveMode, bool skipTransparent = false);

#endif
