// The typed kernels behind mapImage: one template instance per depth and
// component count of input and output, chosen once per call; float RGBA in
// and out with a LUT goes through the vector pixel loop.
#include "lut/PixelKernels.h"

#include <cstdint>
#include <type_traits>

#include "lut/FastLookup.h"
#include "lut/PixelFormat.h"
#include "lut/PixelLoop.h"

namespace {

// What becomes of each Source colour.
enum Mode { kClamp, kApply, kCopy };

// The match of a premultiplied colour: unpremultiplied, matched as any
// colour, premultiplied again. A pixel without alpha keeps its clamped colour.
inline void matchPremultiplied(const MatchLut &lut, const MixStrengths &mix, float alpha, float &r, float &g,
                               float &b) {
  if (!(alpha > 0.0f)) {
    r = clampUnit(r), g = clampUnit(g), b = clampUnit(b);
    return;
  }
  float c[3] = {clampUnit(r / alpha), clampUnit(g / alpha), clampUnit(b / alpha)};
  float l[4];
  lookupFast(lut, c[0], c[1], c[2], l);
  for (int ch = 0; ch < 3; ++ch) c[ch] = mixChannel(1.0f - mix.s[ch], mix.s[ch], c[ch], l[ch]) * alpha;
  r = c[0], g = c[1], b = c[2];
}

template <class In, int InC, class Out, int OutC, int M>
void mapArea(const PixelImage &src, const PixelImage &dst, int ax1, int ay1, int ax2, int ay2, const MatchLut *lut,
             const MixStrengths &mix, bool premultiplied) {
  constexpr bool Apply = M == kApply;
  const float s0 = mix.s[0], s1 = mix.s[1], s2 = mix.s[2];
  const float k0 = 1.0f - s0, k1 = 1.0f - s1, k2 = 1.0f - s2;
  for (int y = ay1; y < ay2; ++y) {
    Out *out = reinterpret_cast<Out *>(pixelAddress(dst, ax1, y));
    int sx1 = ax1, sx2 = ax1;  // columns with a source pixel
    if (y >= src.y1 && y < src.y2) {
      sx1 = ax1 > src.x1 ? ax1 : src.x1;
      sx2 = ax2 < src.x2 ? ax2 : src.x2;
      if (sx2 < sx1) sx2 = sx1;
    }
    int x = ax1;
    for (; x < sx1 && x < ax2; ++x, out += OutC)
      for (int c = 0; c < OutC; ++c) out[c] = fromFloat<Out>(0.0f);
    if (sx2 > sx1) {
      const In *in = reinterpret_cast<const In *>(pixelAddress(src, sx1, y));
      if constexpr (Apply && std::is_same<In, float>::value && InC == 4 && std::is_same<Out, float>::value &&
                    OutC == 4) {
        if (!premultiplied) {
          mapPixelsFloatRgba(in, out, sx2 - sx1, *lut, mix.s);
          out += static_cast<int64_t>(sx2 - sx1) * 4;
          x = sx2;
        }
      }
      for (; x < sx2; ++x, in += InC, out += OutC) {
        float r = toFloat<In>(in[0]);
        float g = toFloat<In>(in[1]);
        float b = toFloat<In>(in[2]);
        if (M != kCopy) {
          if (Apply && InC == 4 && premultiplied) {
            matchPremultiplied(*lut, mix, toFloat<In>(in[InC - 1]), r, g, b);
          } else {
            r = clampUnit(r), g = clampUnit(g), b = clampUnit(b);
          }
        }
        if (Apply && !(InC == 4 && premultiplied)) {
          float l[4];
          lookupFast(*lut, r, g, b, l);
          r = mixChannel(k0, s0, r, l[0]);
          g = mixChannel(k1, s1, g, l[1]);
          b = mixChannel(k2, s2, b, l[2]);
        }
        out[0] = fromFloat<Out>(r);
        out[1] = fromFloat<Out>(g);
        out[2] = fromFloat<Out>(b);
        if (OutC == 4) out[3] = InC == 4 ? fromFloat<Out>(toFloat<In>(in[3])) : fromFloat<Out>(1.0f);
      }
    }
    for (; x < ax2; ++x, out += OutC)
      for (int c = 0; c < OutC; ++c) out[c] = fromFloat<Out>(0.0f);
  }
}

typedef void (*MapFunction)(const PixelImage &, const PixelImage &, int, int, int, int, const MatchLut *,
                            const MixStrengths &, bool);

template <class In, int InC, int Apply>
MapFunction pickOutput(const PixelImage &dst) {
  const bool rgb = dst.components == 3;
  switch (dst.depth) {
    case kDepthByte:
      return rgb ? mapArea<In, InC, uint8_t, 3, Apply> : mapArea<In, InC, uint8_t, 4, Apply>;
    case kDepthShort:
      return rgb ? mapArea<In, InC, uint16_t, 3, Apply> : mapArea<In, InC, uint16_t, 4, Apply>;
    default:
      return rgb ? mapArea<In, InC, float, 3, Apply> : mapArea<In, InC, float, 4, Apply>;
  }
}

template <int Apply>
MapFunction pickMapper(const PixelImage &src, const PixelImage &dst) {
  const bool rgb = src.components == 3;
  switch (src.depth) {
    case kDepthByte:
      return rgb ? pickOutput<uint8_t, 3, Apply>(dst) : pickOutput<uint8_t, 4, Apply>(dst);
    case kDepthShort:
      return rgb ? pickOutput<uint16_t, 3, Apply>(dst) : pickOutput<uint16_t, 4, Apply>(dst);
    default:
      return rgb ? pickOutput<float, 3, Apply>(dst) : pickOutput<float, 4, Apply>(dst);
  }
}

}  // namespace

void mapImage(const PixelImage &src, const PixelImage &dst, int x1, int y1, int x2, int y2, const MatchLut *lut,
              const MixStrengths &mix, bool premultiplied) {
  const bool apply = lut != nullptr && lut->data != nullptr;
  const MapFunction map = apply ? pickMapper<kApply>(src, dst) : pickMapper<kClamp>(src, dst);
  map(src, dst, x1, y1, x2, y2, apply ? lut : nullptr, mix, premultiplied);
}

void copyImage(const PixelImage &src, const PixelImage &dst, int x1, int y1, int x2, int y2) {
  pickMapper<kCopy>(src, dst)(src, dst, x1, y1, x2, y2, nullptr, MixStrengths{{0.0f, 0.0f, 0.0f}}, false);
}
