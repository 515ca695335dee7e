// The float RGBA pixel loop in 128-bit steps. No fused multiply-adds: every
// product is rounded before it is added, as in the scalar lookup.
#include "lut/FastLookup.h"
#include "lut/Mix.h"
#include "lut/PixelLoop.h"

void mapPixelsFloatRgbaSse(const float *in, float *out, int count, const MatchLut &lut, const float s[3]) {
#if TINTBRIDGE_FAST_LOOKUP_SSE
  const int n = lut.size;
  const float *data = lut.data;
  const int64_t gStride = static_cast<int64_t>(n) * 3;
  const int64_t rStride = gStride * n;
  const __m128 scale = _mm_set1_ps(static_cast<float>(n - 1));
  const __m128 lastCell = _mm_set1_ps(static_cast<float>(n - 2));
  const __m128 offsetWeights = _mm_setr_ps(static_cast<float>(rStride), static_cast<float>(gStride), 3.0f, 0.0f);
  const __m128 vs = _mm_setr_ps(s[0], s[1], s[2], 0.0f);
  const __m128 vk = _mm_setr_ps(1.0f - s[0], 1.0f - s[1], 1.0f - s[2], 0.0f);
  const __m128 rgbMask = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  for (int p = 0; p < count; ++p, in += 4, out += 4)
    fastlookup::mapPixelSse(in, out, data, gStride, rStride, scale, lastCell, offsetWeights, vs, vk, rgbMask);
#else
  const float k[3] = {1.0f - s[0], 1.0f - s[1], 1.0f - s[2]};
  for (int p = 0; p < count; ++p, in += 4, out += 4) {
    float c[3], l[3];
    for (int ch = 0; ch < 3; ++ch) c[ch] = clampUnit(in[ch]);
    lut.lookup(c[0], c[1], c[2], l[0], l[1], l[2]);
    const float a = in[3];
    for (int ch = 0; ch < 3; ++ch) out[ch] = mixChannel(k[ch], s[ch], c[ch], l[ch]);
    out[3] = a;
  }
#endif
}
