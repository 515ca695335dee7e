#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "MatchTestSupport.h"
#include "match/LutBuilders.h"
#include "match/Scratch.h"

namespace {

bool build(MatchLut &lut, const TestImage &source, const TestImage &reference, float smoothing, ColorSpace space,
           PreserveMode preserve) {
  return buildDifferentClipsLut(source.view(), reference.view(), lut, smoothing, space, preserve, nullptr, nullptr);
}

TEST(DifferentClips, EqualStatisticsGiveTheIdentity) {
  TestImage picture = makePicture(160, 90);
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  build(lut, picture, picture, 0.0f, 0, kPreserveNothing);
  EXPECT_TRUE(lut.valid.load());
  EXPECT_LT(maxDifferenceFromIdentity(lut), 1e-6f);
  // In Lab the round trip through the two conversions is all that remains.
  ASSERT_TRUE(lut.allocate(65));
  build(lut, picture, picture, 0.0f, kColorSpaceLab, kPreserveNothing);
  float worst = 0.0f;
  for (int i = 0; i < 65; i += 4)
    for (int j = 0; j < 65; j += 4)
      for (int k = 0; k < 65; ++k) {
        float l, a, b, rgb[3];
        rgbToLab(gridValue(i, 65), gridValue(j, 65), gridValue(k, 65), l, a, b);
        labToRgb(l, a, b, rgb[0], rgb[1], rgb[2]);
        for (int ch = 0; ch < 3; ++ch) worst = std::fmax(worst, std::fabs(entry(lut, i, j, k)[ch] - rgb[ch]));
      }
  EXPECT_LT(worst, 1e-6f);
}

TEST(DifferentClips, FlatSourceChannelBecomesAStep) {
  TestImage source = makePicture(40, 40);
  for (size_t p = 0; p < source.pixels.size(); p += 4) source.pixels[p] = 0.5f;
  TestImage reference = makePicture(40, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) reference.at(x, y)[0] = (x + y) % 2 ? 0.7f : 0.3f;  // mean 0.5, deviation 0.2
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  build(lut, source, reference, 0.0f, 3, 7);  // codes 3 and 7 behave as RGB and as nothing preserved
  for (int i = 0; i < 65; ++i) {
    const float red = entry(lut, i, 10, 50)[0];
    if (i < 32) {
      EXPECT_EQ(red, 0.0f) << i;
    }
    if (i > 32) {
      EXPECT_EQ(red, 1.0f) << i;
    }
    if (i == 32) {
      EXPECT_NEAR(red, 0.5f, 1e-6f);
    }
  }
}

// A transfer that moves every cell, so that smoothing has something to do.
struct Graded {
  TestImage source = makePicture(192, 108);
  TestImage reference;
  Graded() {
    const float gain[3] = {0.8f, 1.1f, 0.9f}, gamma[3] = {1.2f, 0.8f, 1.0f}, lift[3] = {0.1f, -0.05f, 0.05f};
    reference = gradeImage(source, gain, gamma, lift);
  }
};

TEST(DifferentClips, SeparableSmoothingAgreesWithTheLiteralWindowSums) {
  Graded g;
  struct Case { int n; float smoothing; ColorSpace space; };
  for (Case c : {Case{65, 5.0f, kColorSpaceLab}, Case{9, 1.0f, kColorSpaceYuv}, Case{9, 2.7f, 0},
                 Case{10, 5.0f, kColorSpaceLab}, Case{4, 12.0f, 0}}) {
    MatchLut raw, smooth;
    ASSERT_TRUE(raw.allocate(c.n));
    ASSERT_TRUE(smooth.allocate(c.n));
    build(raw, g.source, g.reference, 0.0f, c.space, kPreserveNothing);
    build(smooth, g.source, g.reference, c.smoothing, c.space, kPreserveNothing);
    MatchLut expected;
    ASSERT_TRUE(expected.allocate(c.n));
    literalInteriorSmooth(raw.data, expected.data, c.n, static_cast<int>(c.smoothing), 3);
    EXPECT_LT(maxDifference(smooth, expected), 1e-5f) << "n " << c.n << " smoothing " << c.smoothing;
    EXPECT_TRUE(smooth.valid.load());
    if (c.n <= 2 * static_cast<int>(c.smoothing)) {
      EXPECT_EQ(maxDifference(smooth, raw), 0.0f);
    }
  }
}

TEST(DifferentClips, SmoothingRadius) {
  Graded g;
  MatchLut raw, lut;
  ASSERT_TRUE(raw.allocate(7));
  build(raw, g.source, g.reference, 0.0f, kColorSpaceLab, kPreserveNothing);
  for (float none : {-1.0f, 0.9f, NAN}) {
    ASSERT_TRUE(lut.allocate(7));
    build(lut, g.source, g.reference, none, kColorSpaceLab, kPreserveNothing);
    EXPECT_EQ(maxDifference(lut, raw), 0.0f) << none;
  }
  ASSERT_TRUE(lut.allocate(7));
  build(lut, g.source, g.reference, 1.99f, kColorSpaceLab, kPreserveNothing);
  float mean = 0.0f;
  for (int i = 0; i < 3; ++i)
    for (int j = 2; j < 5; ++j)
      for (int k = 4; k < 7; ++k) mean += entry(raw, i, j, k)[1];
  EXPECT_NEAR(entry(lut, 1, 3, 5)[1], mean / 27.0f, 1e-6f);
  EXPECT_EQ(entry(lut, 0, 3, 3)[1], entry(raw, 0, 3, 3)[1]);  // the outer layer keeps its value
}

TEST(DifferentClips, PreserveModesRecombineWithTheGridColour) {
  Graded g;
  for (ColorSpace space : {kColorSpaceLab, kColorSpaceYuv}) {
    MatchLut full, bright, colors, other;
    for (MatchLut *l : {&full, &bright, &colors, &other}) ASSERT_TRUE(l->allocate(65));
    build(full, g.source, g.reference, 0.0f, space, kPreserveNothing);
    build(bright, g.source, g.reference, 0.0f, space, kPreserveBrightness);
    build(colors, g.source, g.reference, 0.0f, space, kPreserveColors);
    build(other, g.source, g.reference, 0.0f, space, 3);
    EXPECT_EQ(maxDifference(full, other), 0.0f);
    for (int i = 0; i < 65; i += 7)
      for (int j = 0; j < 65; j += 5)
        for (int k = 0; k < 65; k += 3) {
          const float c[3] = {gridValue(i, 65), gridValue(j, 65), gridValue(k, 65)};
          float b[3], o[3];
          recombinePreserve(kPreserveBrightness, c, entry(full, i, j, k), b);
          recombinePreserve(kPreserveColors, c, entry(full, i, j, k), o);
          for (int ch = 0; ch < 3; ++ch) {
            ASSERT_EQ(entry(bright, i, j, k)[ch], b[ch]);
            ASSERT_EQ(entry(colors, i, j, k)[ch], o[ch]);
          }
        }
  }
}
TEST(DifferentClips, SmoothingWithoutMemoryLeavesTheTableUnsmoothed) {
  Graded g;
  MatchLut raw, lut;
  ASSERT_TRUE(raw.allocate(65));
  build(raw, g.source, g.reference, 0.0f, kColorSpaceLab, kPreserveNothing);
  ASSERT_TRUE(lut.allocate(65));
  failNextScratchAllocation();
  EXPECT_FALSE(build(lut, g.source, g.reference, 5.0f, kColorSpaceLab, kPreserveNothing));
  EXPECT_TRUE(lut.valid.load());
  EXPECT_EQ(maxDifference(lut, raw), 0.0f);
}

TEST(DifferentClips, NoGridIsLeftAlone) {
  TestImage picture = makePicture(16, 16);
  MatchLut empty;
  build(empty, picture, picture, 5.0f, kColorSpaceLab, kPreserveNothing);
  EXPECT_FALSE(empty.valid.load());
}

}  // namespace
