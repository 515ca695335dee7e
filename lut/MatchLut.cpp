#include "lut/MatchLut.h"

#include "lut/FastLookup.h"

#include <cstddef>
#include <new>

MatchLut::~MatchLut() { release(); }

void MatchLut::release() {
  delete[] data;
  data = nullptr;
  size = 0;
  valid = false;
}

bool MatchLut::allocate(int n) {
  if (n < kMinLutSize || n > kMaxLutSize) return false;
  if (data != nullptr && size == n) {
    valid = false;
    return true;
  }
  if (data != nullptr) {
    delete[] data;
    data = nullptr;
  }
  size = n;
  const int count = n * n * n * 3;
  // Four spare floats at the end let the lookup load whole four-float groups.
  data = new (std::nothrow) float[static_cast<size_t>(count) + 4];
  valid = false;
  if (data == nullptr) {
    size = 0;
    return false;
  }
  for (int i = 0; i < 4; ++i) data[count + i] = 0.0f;
  return true;
}

void MatchLut::lookup(float r, float g, float b, float &outR, float &outG, float &outB) const {
  const fastlookup::Cell cell = fastlookup::cellAt(*this, r, g, b);
  const float fr = cell.fr, fg = cell.fg, fb = cell.fb;
  const float cr = 1.0f - fr;
  const float cg = 1.0f - fg;
  const float cb = 1.0f - fb;
  const float *c000 = cell.c000;
  const float *c010 = c000 + cell.gStride;
  const float *c100 = c000 + cell.rStride;
  const float *c110 = c100 + cell.gStride;

  float out[3];
  for (int c = 0; c < 3; ++c) {
    const float v00 = fb * c000[3 + c] + cb * c000[c];
    const float v01 = fb * c010[3 + c] + cb * c010[c];
    const float v10 = fb * c100[3 + c] + cb * c100[c];
    const float v11 = fb * c110[3 + c] + cb * c110[c];
    const float w0 = fg * v01 + cg * v00;
    const float w1 = fg * v11 + cg * v10;
    out[c] = fr * w1 + cr * w0;
  }
  outR = out[0];
  outG = out[1];
  outB = out[2];
}
