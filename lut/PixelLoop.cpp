// Chooses the pixel loop for this processor, once.
#include "lut/PixelLoop.h"

namespace {

typedef void (*PixelLoopFunction)(const float *, float *, int, const MatchLut &, const float *);

PixelLoopFunction choosePixelLoop() {
#if TINTBRIDGE_PIXEL_LOOP_AVX2
  if (processorHasAvx2()) return mapPixelsFloatRgbaAvx2;
#endif
  return mapPixelsFloatRgbaSse;
}

}  // namespace

void mapPixelsFloatRgba(const float *in, float *out, int count, const MatchLut &lut, const float s[3]) {
  static const PixelLoopFunction loop = choosePixelLoop();
  loop(in, out, count, lut, s);
}
