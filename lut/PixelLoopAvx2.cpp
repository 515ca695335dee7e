// The float RGBA pixel loop in 256-bit steps, for processors with AVX2. No
// fused multiply-adds: every product is rounded before it is added.
#include "lut/FastLookup.h"
#include "lut/PixelLoop.h"

#if TINTBRIDGE_PIXEL_LOOP_AVX2
#include <immintrin.h>

// Two pixels per step, one in each 128-bit half; the arithmetic of each half
// is that of the 128-bit form.
__attribute__((target("avx2"))) void mapPixelsFloatRgbaAvx2(const float *in, float *out, int count, const MatchLut &lut,
                                                   const float s[3]) {
  const int n = lut.size;
  const float *data = lut.data;
  const int64_t gStride = static_cast<int64_t>(n) * 3;
  const int64_t rStride = gStride * n;
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 scale = _mm256_set1_ps(static_cast<float>(n - 1));
  const __m256 lastCell = _mm256_set1_ps(static_cast<float>(n - 2));
  const float rs = static_cast<float>(rStride), gs = static_cast<float>(gStride);
  const __m256 offsetWeights = _mm256_setr_ps(rs, gs, 3.0f, 0.0f, rs, gs, 3.0f, 0.0f);
  const float k0 = 1.0f - s[0], k1 = 1.0f - s[1], k2 = 1.0f - s[2];
  const __m256 vs = _mm256_setr_ps(s[0], s[1], s[2], 0.0f, s[0], s[1], s[2], 0.0f);
  const __m256 vk = _mm256_setr_ps(k0, k1, k2, 0.0f, k0, k1, k2, 0.0f);
  const __m256 rgbMask = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, 0, -1, -1, -1, 0));
  int p = 0;
  for (; p + 2 <= count; p += 2, in += 8, out += 8) {
    const __m256 px = _mm256_loadu_ps(in);
    const __m256 c = _mm256_max_ps(_mm256_min_ps(px, one), zero);
    const __m256 t = _mm256_mul_ps(scale, c);
    const __m256 cell = _mm256_min_ps(_mm256_cvtepi32_ps(_mm256_cvttps_epi32(t)), lastCell);
    const __m256 f = _mm256_sub_ps(t, cell);
    // Entry offsets r * 3n^2 + g * 3n + b * 3 of both pixels, exact in float.
    __m256 o = _mm256_mul_ps(cell, offsetWeights);
    o = _mm256_add_ps(o, _mm256_permute_ps(o, _MM_SHUFFLE(1, 0, 3, 2)));
    o = _mm256_add_ps(o, _mm256_permute_ps(o, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m256i oi = _mm256_cvttps_epi32(o);
    const float *a = data + _mm_cvtsi128_si32(_mm256_castsi256_si128(oi));
    const float *b = data + _mm_cvtsi128_si32(_mm256_extracti128_si256(oi, 1));
    const __m256 vfr = _mm256_permute_ps(f, 0x00);
    const __m256 vfg = _mm256_permute_ps(f, 0x55);
    const __m256 vfb = _mm256_permute_ps(f, 0xAA);
    const __m256 vcr = _mm256_sub_ps(one, vfr);
    const __m256 vcg = _mm256_sub_ps(one, vfg);
    const __m256 vcb = _mm256_sub_ps(one, vfb);
    const int64_t o01 = gStride, o10 = rStride, o11 = rStride + gStride;
    const __m256 v00 = _mm256_add_ps(_mm256_mul_ps(vfb, _mm256_loadu2_m128(b + 3, a + 3)),
                                     _mm256_mul_ps(vcb, _mm256_loadu2_m128(b, a)));
    const __m256 v01 = _mm256_add_ps(_mm256_mul_ps(vfb, _mm256_loadu2_m128(b + o01 + 3, a + o01 + 3)),
                                     _mm256_mul_ps(vcb, _mm256_loadu2_m128(b + o01, a + o01)));
    const __m256 v10 = _mm256_add_ps(_mm256_mul_ps(vfb, _mm256_loadu2_m128(b + o10 + 3, a + o10 + 3)),
                                     _mm256_mul_ps(vcb, _mm256_loadu2_m128(b + o10, a + o10)));
    const __m256 v11 = _mm256_add_ps(_mm256_mul_ps(vfb, _mm256_loadu2_m128(b + o11 + 3, a + o11 + 3)),
                                     _mm256_mul_ps(vcb, _mm256_loadu2_m128(b + o11, a + o11)));
    const __m256 w0 = _mm256_add_ps(_mm256_mul_ps(vfg, v01), _mm256_mul_ps(vcg, v00));
    const __m256 w1 = _mm256_add_ps(_mm256_mul_ps(vfg, v11), _mm256_mul_ps(vcg, v10));
    const __m256 l = _mm256_add_ps(_mm256_mul_ps(vfr, w1), _mm256_mul_ps(vcr, w0));
    const __m256 mixed = _mm256_add_ps(_mm256_mul_ps(vk, c), _mm256_mul_ps(vs, l));
    _mm256_storeu_ps(out, _mm256_blendv_ps(px, mixed, rgbMask));
  }
  if (p < count) mapPixelsFloatRgbaSse(in, out, count - p, lut, s);
}

bool processorHasAvx2() { return __builtin_cpu_supports("avx2"); }
#endif
