// RGB <-> scaled Lab and BT.601 YUV. Every constant and every order of
// operations is fixed so that results agree bit for bit across builds: single
// precision, evaluated left to right, no fused multiply-add.
#include "match/ColorSpace.h"

#include <cmath>

namespace {

float labForward(float t) {
  if (t > 0.008856452f) {
    return std::pow(t, 0.33333334f);
  }
  return t / 0.12841856f + 0.13793103f;  // also taken by negatives and NaN
}

float labInverse(float v) {
  if (v > 0.20689656f) {
    return (v * v) * v;
  }
  return (v - 0.13793103f) * 0.12841856f;
}

float labFy(float r, float g, float b) {
  float y = r * 0.2126729f + g * 0.7151522f + b * 0.072175f;
  return labForward(y);
}

float lightnessFromFy(float fy) { return ((fy * 116.0f - 16.0f) * 255.0f) / 100.0f; }

}  // namespace

void rgbToLab(float r, float g, float b, float &l, float &a, float &bb) {
  float x = (r * 0.4124564f + g * 0.3575761f + b * 0.1804375f) / 0.95047f;
  float z = (r * 0.0193339f + g * 0.119192f + b * 0.9503041f) / 1.08883f;
  float fx = labForward(x);
  float fy = labFy(r, g, b);
  float fz = labForward(z);
  l = lightnessFromFy(fy);
  a = (fx - fy) * 500.0f + 128.0f;
  bb = (fy - fz) * 200.0f + 128.0f;
}

float rgbToLabLightness(float r, float g, float b) { return lightnessFromFy(labFy(r, g, b)); }

void labToRgb(float l, float a, float bb, float &r, float &g, float &b) {
  float fy = ((l * 100.0f) / 255.0f + 16.0f) / 116.0f;
  float fx = (a - 128.0f) / 500.0f + fy;
  float fz = fy - (bb - 128.0f) / 200.0f;
  float x = labInverse(fx) * 0.95047f;
  float y = labInverse(fy);
  float z = labInverse(fz) * 1.08883f;
  float rr = x * 3.2404542f - y * 1.5371385f - z * 0.4985314f;
  float gg = y * 1.8760108f - x * 0.969266f + z * 0.041556f;
  float b2 = x * 0.0556434f - y * 0.2040259f + z * 1.0572252f;
  r = clampColor(rr, 0.0f, 1.0f);
  g = clampColor(gg, 0.0f, 1.0f);
  b = clampColor(b2, 0.0f, 1.0f);
}

void rgbToYuv(float r, float g, float b, float &y, float &u, float &v) {
  y = r * 0.299f + g * 0.587f + b * 0.114f;
  u = r * (-0.14713f) - g * 0.28886f + b * 0.436f;
  v = r * 0.615f - g * 0.51499f - b * 0.10001f;
}

void yuvToRgb(float y, float u, float v, float &r, float &g, float &b) {
  float rr = v * 1.13983f + y;
  float gg = y - u * 0.39465f - v * 0.5806f;
  float b2 = u * 2.03211f + y;
  r = clampColor(rr, 0.0f, 1.0f);
  g = clampColor(gg, 0.0f, 1.0f);
  b = clampColor(b2, 0.0f, 1.0f);
}

void recombinePreserveLab(PreserveMode mode, const float originalLab[3], const float matched[3], float out[3]) {
  if (mode == kPreserveBrightness) {
    float l, a, bb;
    rgbToLab(matched[0], matched[1], matched[2], l, a, bb);
    labToRgb(originalLab[0], a, bb, out[0], out[1], out[2]);
  } else if (mode == kPreserveColors) {
    float l = rgbToLabLightness(matched[0], matched[1], matched[2]);
    labToRgb(l, originalLab[1], originalLab[2], out[0], out[1], out[2]);
  } else {
    out[0] = matched[0];
    out[1] = matched[1];
    out[2] = matched[2];
  }
}

void recombinePreserve(PreserveMode mode, const float original[3], const float matched[3], float out[3]) {
  float originalLab[3] = {0.0f, 128.0f, 128.0f};
  if (mode == kPreserveBrightness) {
    originalLab[0] = rgbToLabLightness(original[0], original[1], original[2]);
  } else if (mode == kPreserveColors) {
    rgbToLab(original[0], original[1], original[2], originalLab[0], originalLab[1], originalLab[2]);
  }
  recombinePreserveLab(mode, originalLab, matched, out);
}
