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

}  // namespace fastlookup

// Writes R, G, B to out[0..2]; out[3] receives a value of no meaning.
// Needs the grid's four spare floats past its last entry.
inline void lookupFast(const MatchLut &lut, float r, float g, float b, float out[4]) {
#if TINTBRIDGE_FAST_LOOKUP_SSE
  const int n = lut.size;
  const float s = static_cast<float>(n - 1);
  int ri, gi, bi;
  float fr, fg, fb;
  fastlookup::cellOf(r, s, n, ri, fr);
  fastlookup::cellOf(g, s, n, gi, fg);
  fastlookup::cellOf(b, s, n, bi, fb);
  const int64_t gStride = static_cast<int64_t>(n) * 3;
  const int64_t rStride = gStride * n;
  const float *c000 = lut.data + MatchLut::entryOffset(n, ri, gi, bi);
  const __m128 vfb = _mm_set1_ps(fb), vcb = _mm_set1_ps(1.0f - fb);
  const __m128 vfg = _mm_set1_ps(fg), vcg = _mm_set1_ps(1.0f - fg);
  const __m128 vfr = _mm_set1_ps(fr), vcr = _mm_set1_ps(1.0f - fr);
  const float *c010 = c000 + gStride;
  const float *c100 = c000 + rStride;
  const float *c110 = c100 + gStride;
  const __m128 v00 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c000 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c000)));
  const __m128 v01 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c010 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c010)));
  const __m128 v10 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c100 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c100)));
  const __m128 v11 = _mm_add_ps(_mm_mul_ps(vfb, _mm_loadu_ps(c110 + 3)), _mm_mul_ps(vcb, _mm_loadu_ps(c110)));
  const __m128 w0 = _mm_add_ps(_mm_mul_ps(vfg, v01), _mm_mul_ps(vcg, v00));
  const __m128 w1 = _mm_add_ps(_mm_mul_ps(vfg, v11), _mm_mul_ps(vcg, v10));
  _mm_storeu_ps(out, _mm_add_ps(_mm_mul_ps(vfr, w1), _mm_mul_ps(vcr, w0)));
#else
  lut.lookup(r, g, b, out[0], out[1], out[2]);
  out[3] = 0.0f;
#endif
}

#endif
