// Inline kernels behind the colour conversions. Conditions are resolved with
// bit selects rather than branches, so that loops over rows of colours
// compile to vector code; the values are those of the plain formulas.
#ifndef TINTBRIDGE_COLOR_MATH_H
#define TINTBRIDGE_COLOR_MATH_H

#include <cstdint>
#include <cstring>

inline uint32_t floatBits(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

inline float bitsFloat(uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// a where `condition` holds, b elsewhere.
inline float pick(bool condition, float a, float b) {
  const uint32_t mask = 0u - static_cast<uint32_t>(condition);
  return bitsFloat((floatBits(a) & mask) | (floatBits(b) & ~mask));
}

// The clamp rule without a branch: min with hi first (NaN gives hi), then max with lo.
inline float clampPick(float v, float lo, float hi) {
  const float t = pick(v < hi, v, hi);
  return pick(t > lo, t, lo);
}

// t raised to 0.33333334 (the float nearest 1/3) for a positive float, to
// float precision: a bit-level first guess refined by two Halley steps toward
// the cube root in double, then scaled by t^(0.33333334 - 1/3), which is
// 1 + 6.9e-9 log2(t) to well within a float's precision (the log taken from
// the bits). Infinity stays infinity.
inline float labCubeRoot(float t) {
  constexpr double kExcessTimesLn2 = (0.3333333432674407958984375 - 1.0 / 3.0) * 0.6931471805599453;
  const uint32_t bits = floatBits(t);
  double x = static_cast<double>(bitsFloat(bits / 3u + 709958130u));
  const double td = static_cast<double>(t);
  double x3 = x * x * x;
  x = x * (x3 + 2.0 * td) / (2.0 * x3 + td);
  x3 = x * x * x;
  x = x * (x3 + 2.0 * td) / (2.0 * x3 + td);
  const double log2t = static_cast<double>(bits) * (1.0 / 8388608.0) - 127.0;
  x = x * (1.0 + kExcessTimesLn2 * log2t);
  return pick(t < 3.4028235e38f, static_cast<float>(x), t);
}

inline float labForwardKernel(float t) {
  const float root = labCubeRoot(t);
  const float linear = t / 0.12841856f + 0.13793103f;
  return pick(t > 0.008856452f, root, linear);  // negatives and NaN take the linear branch
}

inline float labInverseKernel(float v) {
  const float cube = (v * v) * v;
  const float linear = (v - 0.13793103f) * 0.12841856f;
  return pick(v > 0.20689656f, cube, linear);
}

inline float labLightnessKernel(float r, float g, float b) {
  const float fy = labForwardKernel(r * 0.2126729f + g * 0.7151522f + b * 0.072175f);
  return ((fy * 116.0f - 16.0f) * 255.0f) / 100.0f;
}

inline void rgbToLabKernel(float r, float g, float b, float &l, float &a, float &bb) {
  const float x = (r * 0.4124564f + g * 0.3575761f + b * 0.1804375f) / 0.95047f;
  const float y = r * 0.2126729f + g * 0.7151522f + b * 0.072175f;
  const float z = (r * 0.0193339f + g * 0.119192f + b * 0.9503041f) / 1.08883f;
  const float fx = labForwardKernel(x);
  const float fy = labForwardKernel(y);
  const float fz = labForwardKernel(z);
  l = ((fy * 116.0f - 16.0f) * 255.0f) / 100.0f;
  a = (fx - fy) * 500.0f + 128.0f;
  bb = (fy - fz) * 200.0f + 128.0f;
}

inline void labToRgbKernel(float l, float a, float bb, float &r, float &g, float &b) {
  const float fy = ((l * 100.0f) / 255.0f + 16.0f) / 116.0f;
  const float fx = (a - 128.0f) / 500.0f + fy;
  const float fz = fy - (bb - 128.0f) / 200.0f;
  const float x = labInverseKernel(fx) * 0.95047f;
  const float y = labInverseKernel(fy);
  const float z = labInverseKernel(fz) * 1.08883f;
  r = clampPick(x * 3.2404542f - y * 1.5371385f - z * 0.4985314f, 0.0f, 1.0f);
  g = clampPick(y * 1.8760108f - x * 0.969266f + z * 0.041556f, 0.0f, 1.0f);
  b = clampPick(x * 0.0556434f - y * 0.2040259f + z * 1.0572252f, 0.0f, 1.0f);
}

#endif
