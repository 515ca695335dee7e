// The two LUT builders. Both fill every entry of `lut` (whose size is already
// allocated) and set `lut.valid` last. Source and Reference are RGBA float
// views (four floats a pixel).
#ifndef TINTBRIDGE_LUT_BUILDERS_H
#define TINTBRIDGE_LUT_BUILDERS_H

#include <vector>

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

// Analysis over several frames: each frame is measured on its own, and the
// measurements, each with a frame weight, are pooled into one LUT exactly as
// if the frames were one picture. Pooling one frame with weight 1 gives the
// LUT of that frame.

// The Different Clips LUT from statistics already measured.
bool buildDifferentClipsLutFromStats(const ClipStats &source, const ClipStats &reference, MatchLut &lut,
                                     float smoothing, ColorSpace colorSpace, PreserveMode preserveMode);

// The sampled pixel pairs of one Same Frame measurement: six floats a pair,
// the clamped Source colour and the colour filed for it.
struct SampledPairs {
  std::vector<float> values;
};

// May throw std::bad_alloc.
void gatherSameFramePairs(const ImageView &source, const ImageView &reference, PreserveMode preserveMode,
                          bool skipTransparent, SampledPairs &pairs);

// Files every pair of every frame with its frame's weight, then resolves as
// buildSameFrameLut does.
bool buildSameFrameLutFromPairs(const SampledPairs *const *frames, const float *weights, int count, MatchLut &lut,
                                float smoothing);

#endif
