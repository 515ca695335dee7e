#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "match/ColorMath.h"
#include "match/ColorSpace.h"

namespace {

void expectLab(float r, float g, float b, float l, float a, float bb, float tolerance) {
  float ol, oa, ob;
  rgbToLab(r, g, b, ol, oa, ob);
  EXPECT_NEAR(ol, l, tolerance);
  EXPECT_NEAR(oa, a, tolerance);
  EXPECT_NEAR(ob, bb, tolerance);
}

TEST(ColorSpace, LabReferenceValues) {
  expectLab(0, 0, 0, 0, 128, 128, 1e-4f);
  expectLab(1, 1, 1, 255, 128, 128, 1e-3f);
  expectLab(0.5f, 0.5f, 0.5f, 193.9766f, 128, 128, 1e-3f);
  expectLab(1, 0, 0, 135.764f, 208.0925f, 195.2032f, 2e-3f);
  // A dark grey takes the linear branch on all three axes.
  const double f = 0.001 / 0.12841856 + 0.13793103;
  expectLab(0.001f, 0.001f, 0.001f, static_cast<float>((f * 116 - 16) * 2.55), 128, 128, 2e-6f);
  float l, a, b;
  rgbToLab(0.2f, 0.7f, 0.4f, l, a, b);
  EXPECT_EQ(rgbToLabLightness(0.2f, 0.7f, 0.4f), l);
}

TEST(ColorSpace, LabInverseClampsOutOfGamut) {
  float r, g, b;
  labToRgb(0, 128, 128, r, g, b);
  EXPECT_NEAR(r, 0, 1e-6f);
  EXPECT_NEAR(b, 0, 1e-6f);
  labToRgb(255, 128, 128, r, g, b);
  EXPECT_NEAR(g, 1, 1e-6f);
  labToRgb(255, 255, 0, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_NEAR(g, 0.2589f, 1e-4f);
  EXPECT_EQ(b, 1.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  labToRgb(nan, 128, 128, r, g, b);  // NaN channels come out as the upper bound
  EXPECT_EQ(r, 1.0f);
}

TEST(ColorSpace, RoundTripsOverTheUnitCube) {
  float worstLab = 0, worstYuv = 0;
  for (int i = 0; i <= 16; ++i)
    for (int j = 0; j <= 16; ++j)
      for (int k = 0; k <= 16; ++k) {
        const float c[3] = {i / 16.0f, j / 16.0f, k / 16.0f};
        float l, a, bb, o[3];
        rgbToLab(c[0], c[1], c[2], l, a, bb);
        labToRgb(l, a, bb, o[0], o[1], o[2]);
        for (int ch = 0; ch < 3; ++ch) worstLab = std::fmax(worstLab, std::fabs(o[ch] - c[ch]));
        rgbToYuv(c[0], c[1], c[2], l, a, bb);
        yuvToRgb(l, a, bb, o[0], o[1], o[2]);
        for (int ch = 0; ch < 3; ++ch) worstYuv = std::fmax(worstYuv, std::fabs(o[ch] - c[ch]));
      }
  EXPECT_LT(worstLab, 1e-6f);
  EXPECT_LT(worstYuv, 1e-4f);  // the BT.601 weights do not invert exactly
}
TEST(ColorSpace, RecombinePreserve) {
  const float grey[3] = {0.5f, 0.5f, 0.5f};
  const float red[3] = {1, 0, 0};
  float out[3];
  recombinePreserve(kPreserveBrightness, grey, red, out);
  EXPECT_NEAR(out[0], 1.0f, 1e-6f);
  EXPECT_NEAR(out[1], 0.14275f, 1e-4f);
  EXPECT_NEAR(out[2], 0.05425f, 1e-4f);
  recombinePreserve(kPreserveColors, grey, red, out);
  for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(out[ch], 0.21267f, 1e-4f);

  const float c[3] = {0.3f, 0.6f, 0.9f};
  for (int mode : {1, 2}) {
    recombinePreserve(mode, c, c, out);
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(out[ch], c[ch], 1e-6f) << "mode " << mode;
  }
  // Other modes hand back the matched colour bit for bit, even out of range.
  const float wild[3] = {1.5f, -0.25f, std::numeric_limits<float>::quiet_NaN()};
  for (int mode : {0, 3, -1}) {
    recombinePreserve(mode, c, wild, out);
    EXPECT_EQ(out[0], 1.5f);
    EXPECT_EQ(out[1], -0.25f);
    EXPECT_TRUE(std::isnan(out[2]));
  }
}

// The Lab cube root stands in for powf(t, 0.33333334f): it may differ in the last bit only.
TEST(ColorSpace, CubeRootWithinOneUlpOfThePowerFunction) {
  int64_t worst = 0;
  for (float t = 0.0088565f; t < 1e6f; t = t * 1.0000037f) {
    const int64_t got = floatBits(labCubeRoot(t));
    const int64_t want = floatBits(std::pow(t, 0.33333334f));
    worst = std::max(worst, got > want ? got - want : want - got);
  }
  EXPECT_LE(worst, 1);
  EXPECT_EQ(labCubeRoot(INFINITY), INFINITY);
  EXPECT_EQ(labCubeRoot(8.0f), 2.0f);
}

}  // namespace
