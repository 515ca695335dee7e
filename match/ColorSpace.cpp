// RGB <-> scaled Lab and BT.601 YUV. Every constant and every order of
// operations is fixed so that results agree across builds: single precision,
// evaluated left to right, no fused multiply-add. The cube root of the Lab
// function is computed to float precision by labCubeRoot.
#include "match/ColorSpace.h"

#include "match/ColorMath.h"

void rgbToLab(float r, float g, float b, float &l, float &a, float &bb) { rgbToLabKernel(r, g, b, l, a, bb); }

float rgbToLabLightness(float r, float g, float b) { return labLightnessKernel(r, g, b); }

void labToRgb(float l, float a, float bb, float &r, float &g, float &b) { labToRgbKernel(l, a, bb, r, g, b); }

void rgbToYuv(float r, float g, float b, float &y, float &u, float &v) {
  y = r * 0.299f + g * 0.587f + b * 0.114f;
  u = r * (-0.14713f) - g * 0.28886f + b * 0.436f;
  v = r * 0.615f - g * 0.51499f - b * 0.10001f;
}

void yuvToRgb(float y, float u, float v, float &r, float &g, float &b) {
  r = clampColor(v * 1.13983f + y, 0.0f, 1.0f);
  g = clampColor(y - u * 0.39465f - v * 0.5806f, 0.0f, 1.0f);
  b = clampColor(u * 2.03211f + y, 0.0f, 1.0f);
}

void recombinePreserveLab(PreserveMode mode, const float originalLab[3], const float matched[3], float out[3]) {
  if (mode == kPreserveBrightness) {
    float l, a, bb;
    rgbToLabKernel(matched[0], matched[1], matched[2], l, a, bb);
    labToRgbKernel(originalLab[0], a, bb, out[0], out[1], out[2]);
  } else if (mode == kPreserveColors) {
    const float l = labLightnessKernel(matched[0], matched[1], matched[2]);
    labToRgbKernel(l, originalLab[1], originalLab[2], out[0], out[1], out[2]);
  } else {
    out[0] = matched[0];
    out[1] = matched[1];
    out[2] = matched[2];
  }
}

void recombinePreserve(PreserveMode mode, const float original[3], const float matched[3], float out[3]) {
  float originalLab[3] = {0.0f, 128.0f, 128.0f};
  if (mode == kPreserveBrightness) {
    originalLab[0] = labLightnessKernel(original[0], original[1], original[2]);
  } else if (mode == kPreserveColors) {
    rgbToLabKernel(original[0], original[1], original[2], originalLab[0], originalLab[1], originalLab[2]);
  }
  recombinePreserveLab(mode, originalLab, matched, out);
}
