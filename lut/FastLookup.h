// The render's trilinear lookup: the same arithmetic as MatchLut::lookup, in
// the same order, with the three channels carried side by side in one
// four-lane register. Results are bit-identical to the scalar form.
#ifndef TINTBRIDGE_FAST_LOOKUP_H
#define TINTBRIDGE_FAST_LOOKUP_H

#include <cstdint>

#include "lut/MatchLut.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TINTBRIDGE_FAST_LOOKUP_SSE 1
#endif

namespace fastlookup {

inline void cellOf(float x, float s, int n, int &i, float &f) {
  const float t = s * x;
  i = static_cast<int>(t);
  if (i > n - 2) i = n - 2;
  if (i < 0) i = 0;
  f = t - static_cast<float>(i);
}

// The cell of the grid that holds (r, g, b): its first corner, the strides to
// the neighbouring corners, and the fractions along each axis.
struct Cell {
  const float *c000;
  int64_t gStride, rStride;
  float fr, fg, fb;
};

inline Cell cellAt(const MatchLut &lut, float r, float g, float b) {
  const int n = lut.size;
  const float s = static_cast<float>(n - 1);
  int ri, gi, bi;
  Cell cell;
  cellOf(r, s, n, ri, cell.fr);
  cellOf(g, s, n, gi, cell.fg);
  cellOf(b, s, n, bi, cell.fb);
  cell.gStride = static_cast<int64_t>(n) * 3;
  cell.rStride = cell.gStride * n;
  cell.c000 = lut.data + MatchLut::entryOffset(n, ri, gi, bi);
  return cell;
}

#if TINTBRIDGE_FAST_LOOKUP_SSE
// The eight corners of the cell at c000 blended along B, then G, then R, the
// three channels side by side; f* are the fractions, c* their complements.
inline __m128 interpolate(const float *c000, int64_t gStride, int64_t rStride, __m128 vfr, __m128 vfg, __m128 vfb,
                          __m128 vcr, __m128 vcg, __m128 vcb) {
  const float *c010 = c000 + gStride;
  const float *c100 = c000 + rStride;
  const float *c110 = c100 + gStride;
  const __m128 v00 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c000 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c000)));
  const __m128 v01 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c010 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c010)));
  const __m128 v10 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c100 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c100)));
  const __m128 v11 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c110 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c110)));
  const __m128 w0 = _mm_add_ps(_mm_mul_ps(vfg, v01), _mm_mul_ps(vcg, v00));
  const __m128 w1 = _mm_add_ps(_mm_mul_ps(vfg, v11), _mm_mul_ps(vcg, v10));
  return _mm_add_ps(_mm_mul_ps(vfr, w1), _mm_mul_ps(vcr, w0));
}
#endif

}  // namespace fastlookup

// Writes R, G, B to out[0..2]; out[3] receives a value of no meaning.
// Needs the grid's four spare floats past its last entry.
inline void lookupFast(const MatchLut &lut, float r, float g, float b, float out[4]) {
#if TINTBRIDGE_FAST_LOOKUP_SSE
  const fastlookup::Cell cell = fastlookup::cellAt(lut, r, g, b);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 vfr = _mm_set1_ps(cell.fr), vfg = _mm_set1_ps(cell.fg), vfb = _mm_set1_ps(cell.fb);
  _mm_storeu_ps(out, fastlookup::interpolate(cell.c000, cell.gStride, cell.rStride, vfr, vfg, vfb,
                                             _mm_sub_ps(one, vfr), _mm_sub_ps(one, vfg), _mm_sub_ps(one, vfb)));
#else
  lut.lookup(r, g, b, out[0], out[1], out[2]);
  out[3] = 0.0f;
#endif
}

#if TINTBRIDGE_FAST_LOOKUP_SSE
namespace fastlookup {

// One pixel: clamp, look up, mix, keep alpha.
inline void mapPixelSse(const float *in, float *out, const float *data, int64_t gStride, int64_t rStride,
                        const __m128 scale, const __m128 lastCell, const __m128 offsetWeights, const __m128 vs,
                        const __m128 vk, const __m128 rgbMask) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 px = _mm_loadu_ps(in);
  const __m128 c = _mm_max_ps(_mm_min_ps(px, one), _mm_setzero_ps());
  // Cell indices and fractions of the three channels at once; the inputs are
  // in [0, 1], so only the upper index bound can bite. The entry offset
  // r * 3n^2 + g * 3n + b * 3 is exact in float (below 2^24).
  const __m128 t = _mm_mul_ps(scale, c);
  const __m128 cell = _mm_min_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(t)), lastCell);
  const __m128 f = _mm_sub_ps(t, cell);
  __m128 o = _mm_mul_ps(cell, offsetWeights);
  o = _mm_add_ps(o, _mm_movehl_ps(o, o));
  o = _mm_add_ss(o, _mm_shuffle_ps(o, o, _MM_SHUFFLE(1, 1, 1, 1)));
  const float *c000 = data + _mm_cvttss_si32(o);
  const __m128 vfr = _mm_shuffle_ps(f, f, _MM_SHUFFLE(0, 0, 0, 0));
  const __m128 vfg = _mm_shuffle_ps(f, f, _MM_SHUFFLE(1, 1, 1, 1));
  const __m128 vfb = _mm_shuffle_ps(f, f, _MM_SHUFFLE(2, 2, 2, 2));
  const __m128 l = interpolate(c000, gStride, rStride, vfr, vfg, vfb, _mm_sub_ps(one, vfr), _mm_sub_ps(one, vfg),
                                _mm_sub_ps(one, vfb));
  const __m128 mixed = _mm_add_ps(_mm_mul_ps(vk, c), _mm_mul_ps(vs, l));
  _mm_storeu_ps(out, _mm_or_ps(_mm_and_ps(rgbMask, mixed), _mm_andnot_ps(rgbMask, px)));
}

}  // namespace fastlookup
#endif

#endif
