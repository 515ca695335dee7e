#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "MatchTestSupport.h"
#include "match/LutBuilders.h"
#include "match/Scratch.h"

namespace {

bool build(MatchLut &lut, const TestImage &source, const TestImage &reference, float smoothing,
           PreserveMode preserve) {
  return buildSameFrameLut(source.view(), reference.view(), lut, smoothing, preserve);
}

float clamp01(float v) { return clampColor(v, 0.0f, 1.0f); }

// The table written from its description, independently of the builder:
// displacements filed per cell, then the sample-weighted window mean and the
// plain window mean as literal float window sums.
std::vector<float> literalSameFrame(const TestImage &s, const TestImage &q, int n, int r, PreserveMode preserve) {
  const size_t cells = static_cast<size_t>(n) * n * n;
  std::vector<double> filed(cells * 4, 0.0);
  const int m = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(s.width * s.height) / 50000.0)));
  for (int y = 0; y < std::min(s.height, q.height); y += m)
    for (int x = 0; x < std::min(s.width, q.width); x += m) {
      const float *sp = s.data() + (static_cast<size_t>(y) * s.width + x) * 4;
      const float *qp = q.data() + (static_cast<size_t>(y) * q.width + x) * 4;
      float sc[3], qc[3], f[3];
      size_t cell = 0;
      for (int c = 0; c < 3; ++c) {
        sc[c] = clamp01(sp[c]);
        qc[c] = clamp01(qp[c]);
        int index = std::max(std::min(static_cast<int>(sc[c] * static_cast<float>(n - 1) + 0.5f), n - 1), 0);
        cell = cell * n + index;
      }
      recombinePreserve(preserve, sc, qc, f);
      for (int c = 0; c < 3; ++c) filed[cell * 4 + c] += static_cast<double>(f[c]) - sc[c];
      filed[cell * 4 + 3] += 1.0;
    }
  std::vector<float> sums(cells * 4), windowed(cells * 4), field(cells * 3), faded(cells * 3);
  for (size_t v = 0; v < sums.size(); ++v) sums[v] = static_cast<float>(filed[v]);
  if (r > 0) literalCutMean(sums.data(), windowed.data(), n, r, 4);
  else windowed = sums;
  for (size_t c = 0; c < cells; ++c)
    for (int ch = 0; ch < 3; ++ch)
      field[c * 3 + ch] = windowed[c * 4 + 3] > 0.0f ? windowed[c * 4 + ch] / windowed[c * 4 + 3] : 0.0f;
  if (r > 0) literalCutMean(field.data(), faded.data(), n, r, 3);
  else faded = field;
  std::vector<float> table(cells * 3);
  for (size_t c = 0; c < cells; ++c) {
    const int index[3] = {static_cast<int>(c / (n * n)), static_cast<int>(c / n % n), static_cast<int>(c % n)};
    for (int ch = 0; ch < 3; ++ch) table[c * 3 + ch] = clamp01(gridValue(index[ch], n) + faded[c * 3 + ch]);
  }
  return table;
}

struct Graded {
  TestImage source = makePicture(320, 180);
  TestImage reference;
  Graded() {
    const float gain[3] = {0.85f, 1.05f, 0.9f}, gamma[3] = {1.15f, 0.85f, 1.0f}, lift[3] = {0.08f, -0.03f, 0.06f};
    reference = gradeImage(source, gain, gamma, lift);
  }
};

TEST(SameFrame, AgreesWithTheLiteralForm) {
  Graded g;
  struct Case { int n; float smoothing; int r; PreserveMode preserve; };
  for (Case c : {Case{65, 5.0f, 5, kPreserveNothing}, Case{5, 1.0f, 1, kPreserveBrightness},
                 Case{5, 0.5f, 1, kPreserveNothing}, Case{6, 2.0f, 2, kPreserveColors},
                 Case{4, 9.0f, 9, kPreserveNothing}, Case{9, 0.0f, 0, kPreserveNothing}}) {
    MatchLut lut;
    ASSERT_TRUE(lut.allocate(c.n));
    build(lut, g.source, g.reference, c.smoothing, c.preserve);
    EXPECT_TRUE(lut.valid.load());
    std::vector<float> expected = literalSameFrame(g.source, g.reference, c.n, c.r, c.preserve);
    float worst = 0.0f;
    for (size_t v = 0; v < expected.size(); ++v) worst = std::fmax(worst, std::fabs(lut.data[v] - expected[v]));
    EXPECT_LT(worst, 1e-5f) << "n " << c.n << " smoothing " << c.smoothing;
  }
}

TEST(SameFrame, SelfMatchAndNoOverlapGiveTheExactIdentity) {
  TestImage picture = makePicture(320, 180);
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  build(lut, picture, picture, 5.0f, kPreserveNothing);
  EXPECT_EQ(maxDifferenceFromIdentity(lut), 0.0f);
  for (PreserveMode mode : {kPreserveBrightness, kPreserveColors}) {
    ASSERT_TRUE(lut.allocate(65));
    build(lut, picture, picture, 5.0f, mode);
    EXPECT_LT(maxDifferenceFromIdentity(lut), 1e-6f);  // the Lab round trip only
  }
  TestImage none = makeImage(0, 180, 0, 0, 0);
  ASSERT_TRUE(lut.allocate(65));
  build(lut, picture, none, 5.0f, kPreserveNothing);
  EXPECT_TRUE(lut.valid.load());
  EXPECT_EQ(maxDifferenceFromIdentity(lut), 0.0f);
  ASSERT_TRUE(lut.allocate(65));
  buildSameFrameLut(ImageView{picture.data(), 320, 180, picture.rowBytes(), 4}, ImageView{nullptr, 320, 180, 0, 4}, lut, 5.0f, 0);
  EXPECT_EQ(maxDifferenceFromIdentity(lut), 0.0f);
}

TEST(SameFrame, RecoversAKnownGrade) {
  Graded g;
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  build(lut, g.source, g.reference, 5.0f, kPreserveNothing);
  double grade = 0.0, error = 0.0;
  for (size_t p = 0; p < g.source.pixels.size(); p += 4) {
    const float *s = &g.source.pixels[p];
    const float *q = &g.reference.pixels[p];
    float out[3];
    lut.lookup(clamp01(s[0]), clamp01(s[1]), clamp01(s[2]), out[0], out[1], out[2]);
    for (int c = 0; c < 3; ++c) {
      grade += std::fabs(clamp01(q[c]) - clamp01(s[c]));
      error += std::fabs(clamp01(q[c]) - out[c]);
    }
  }
  EXPECT_LT(error, 0.06 * grade) << "grade " << grade << " error " << error;
}

TEST(SameFrame, CellIndexRuleAndClamps) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  TestImage source = makeImage(2, 1, 0, 0, 0), reference = makeImage(2, 1, 0, 0, 0);
  const float s0[3] = {0.5f, 0.0078125f, 0.0078f}, q0[3] = {0.6f, 0.1f, 0.2f};
  const float s1[3] = {1.7f, nan, 0.0f}, q1[3] = {0.2f, nan, -0.5f};
  for (int c = 0; c < 3; ++c) {
    source.at(0, 0)[c] = s0[c];
    reference.at(0, 0)[c] = q0[c];
    source.at(1, 0)[c] = s1[c];
    reference.at(1, 0)[c] = q1[c];
  }
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  build(lut, source, reference, 0.0f, 3);  // mode 3 files the Reference colour, as mode 0
  const float *e = entry(lut, 32, 1, 0);
  EXPECT_NEAR(e[0], 0.6f, 1e-7f);
  EXPECT_NEAR(e[1], 1.0f / 64 + (0.1f - 0.0078125f), 1e-7f);
  EXPECT_NEAR(e[2], 0.2f - 0.0078f, 1e-7f);
  e = entry(lut, 64, 64, 0);  // 1.7 and NaN are filed under the last index
  EXPECT_NEAR(e[0], 0.2f, 1e-7f);
  EXPECT_EQ(e[1], 1.0f);  // a NaN Reference channel counts as 1
  EXPECT_EQ(e[2], 0.0f);
  // Everything else is untouched.
  lut.data[MatchLut::entryOffset(65, 32, 1, 0)] = 0.5f;
  lut.data[MatchLut::entryOffset(65, 32, 1, 0) + 1] = 1.0f / 64;
  lut.data[MatchLut::entryOffset(65, 32, 1, 0) + 2] = 0.0f;
  lut.data[MatchLut::entryOffset(65, 64, 64, 0)] = 1.0f;
  EXPECT_EQ(maxDifferenceFromIdentity(lut), 0.0f);
}
TEST(SameFrame, SamplingStepAndOverlap) {
  // Odd columns and the part beyond the Reference hold colours that only a
  // denser walk or a wider overlap would file.
  auto buildStriped = [](int width, int height, int referenceWidth) {
    TestImage source = makeImage(width, height, 0.1f, 0.9f, 0.1f);
    TestImage reference = makeImage(referenceWidth, height, 0.1f, 0.9f, 0.1f);
    for (int y = 0; y < height; ++y) {
      for (int x = 1; x < width; x += 2) {
        source.at(x, y)[0] = 0.9f;
        if (x < referenceWidth) reference.at(x, y)[1] = 0.5f;
      }
      for (int x = referenceWidth; x < width; ++x) source.at(x, y)[2] = 0.9f;
    }
    MatchLut lut;
    EXPECT_TRUE(lut.allocate(9));
    build(lut, source, reference, 0.0f, kPreserveNothing);
    return std::vector<float>(lut.data, lut.data + 9 * 9 * 9 * 3);
  };
  const int64_t oddCell = MatchLut::entryOffset(9, 7, 7, 1), outsideCell = MatchLut::entryOffset(9, 1, 7, 7);
  std::vector<float> full = buildStriped(447, 447, 447);  // 199809 pixels: step 1
  EXPECT_NEAR(full[oddCell + 1], 0.875f + (0.5f - 0.9f), 1e-6f);
  std::vector<float> halved = buildStriped(500, 400, 500);  // 200000 pixels: step 2
  EXPECT_EQ(halved[oddCell + 1], gridValue(7, 9));
  std::vector<float> narrow = buildStriped(447, 447, 200);
  EXPECT_EQ(narrow[outsideCell + 2], gridValue(7, 9));
}

TEST(SameFrame, FailedScratchAllocationLeavesAnInvalidIdentity) {
  Graded g;
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  failNextScratchAllocation();
  EXPECT_FALSE(build(lut, g.source, g.reference, 5.0f, kPreserveNothing));
  EXPECT_FALSE(lut.valid.load());
  EXPECT_EQ(maxDifferenceFromIdentity(lut), 0.0f);
  // The next build has its memory again.
  build(lut, g.source, g.reference, 5.0f, kPreserveNothing);
  EXPECT_TRUE(lut.valid.load());
  EXPECT_GT(maxDifferenceFromIdentity(lut), 0.01f);
}

}  // namespace
