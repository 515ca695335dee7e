// The render's inner loop for float RGBA in and out with a LUT: per pixel the
// colour clamped to [0, 1] (1 first, so a NaN becomes 1), looked up, and mixed
// as (1 - s) * clamped + s * looked-up per channel; alpha copied unchanged.
// Bit-identical to the scalar steps. Needs the grid's four spare floats.
#ifndef TINTBRIDGE_PIXEL_LOOP_H
#define TINTBRIDGE_PIXEL_LOOP_H

#include "lut/MatchLut.h"

// The widest form the processor runs, chosen once per process.
void mapPixelsFloatRgba(const float *in, float *out, int count, const MatchLut &lut, const float s[3]);

// 128-bit steps (plain scalar steps without SSE); the reference of the wider form.
void mapPixelsFloatRgbaSse(const float *in, float *out, int count, const MatchLut &lut, const float s[3]);

#if (defined(__SSE2__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define TINTBRIDGE_PIXEL_LOOP_AVX2 1
// Two pixels per 256-bit step; only where processorHasAvx2().
void mapPixelsFloatRgbaAvx2(const float *in, float *out, int count, const MatchLut &lut, const float s[3]);
bool processorHasAvx2();
#endif

#endif
