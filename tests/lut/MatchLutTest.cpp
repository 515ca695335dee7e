// The LUT grid: allocation rules and the trilinear lookup.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lut/FastLookup.h"
#include "lut/PixelLoop.h"
#include "lut/MatchLut.h"

namespace {

void fillIdentity(MatchLut &lut) {
  const int n = lut.size;
  for (int r = 0; r < n; ++r)
    for (int g = 0; g < n; ++g)
      for (int b = 0; b < n; ++b) {
        float *e = lut.data + MatchLut::entryOffset(n, r, g, b);
        e[0] = static_cast<float>(r) / static_cast<float>(n - 1);
        e[1] = static_cast<float>(g) / static_cast<float>(n - 1);
        e[2] = static_cast<float>(b) / static_cast<float>(n - 1);
      }
}

void fillRandom(MatchLut &lut, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const int count = lut.size * lut.size * lut.size * 3;
  for (int i = 0; i < count; ++i) lut.data[i] = u(rng);
}

TEST(MatchLutAllocate, RejectsSizesOutsideTwoTo256AndChangesNothing) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  fillIdentity(lut);
  lut.valid = true;
  float *before = lut.data;
  for (int bad : {1, 0, -3, 257}) {
    EXPECT_FALSE(lut.allocate(bad)) << bad;
    EXPECT_EQ(lut.data, before);
    EXPECT_EQ(lut.size, 65);
    EXPECT_TRUE(lut.valid);
  }
  MatchLut small, large;
  EXPECT_TRUE(small.allocate(2));
  EXPECT_TRUE(large.allocate(256));
  EXPECT_EQ(large.size, 256);
}

TEST(MatchLutAllocate, SameSizeKeepsArrayAndContentsButClearsValid) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  fillRandom(lut, 7);
  const float probe = lut.data[12345];
  float *before = lut.data;
  lut.valid = true;
  EXPECT_TRUE(lut.allocate(65));
  EXPECT_EQ(lut.data, before);
  EXPECT_EQ(lut.data[12345], probe);
  EXPECT_FALSE(lut.valid);
}

TEST(MatchLutAllocate, OtherSizeGivesFreshStaleGrid) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  lut.valid = true;
  EXPECT_TRUE(lut.allocate(33));
  EXPECT_EQ(lut.size, 33);
  EXPECT_NE(lut.data, nullptr);
  EXPECT_FALSE(lut.valid);
  lut.release();
  EXPECT_EQ(lut.data, nullptr);
  EXPECT_EQ(lut.size, 0);
}

TEST(MatchLutLookup, IdentityGridReturnsInputAndExactCorners) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  fillIdentity(lut);
  float r, g, b;
  lut.lookup(0, 0, 0, r, g, b);
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(b, 0.0f);
  lut.lookup(1, 1, 1, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 1.0f);
  EXPECT_EQ(b, 1.0f);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int i = 0; i < 2000; ++i) {
    const float x = u(rng), y = u(rng), z = u(rng);
    lut.lookup(x, y, z, r, g, b);
    EXPECT_NEAR(r, x, 1e-6f);
    EXPECT_NEAR(g, y, 1e-6f);
    EXPECT_NEAR(b, z, 1e-6f);
  }
  // At grid values the entry comes back exactly (n - 1 is a power of two).
  for (int i = 0; i < 65; i += 7) {
    const float v = static_cast<float>(i) / 64.0f;
    lut.lookup(v, v, v, r, g, b);
    EXPECT_EQ(r, v);
  }
  // Outside the cube the edge cell extrapolates.
  lut.lookup(1.5f, 0.5f, 0.5f, r, g, b);
  EXPECT_NEAR(r, 1.5f, 1e-6f);
}

TEST(MatchLutLookup, SizeTwoInterpolatesWithTheInputsAsFractions) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(2));
  fillRandom(lut, 11);
  const float x = 0.25f, y = 0.5f, z = 0.75f;
  float r, g, b;
  lut.lookup(x, y, z, r, g, b);
  // Plain trilinear blend of the 8 corners for the red channel.
  double expect = 0.0;
  for (int dr = 0; dr < 2; ++dr)
    for (int dg = 0; dg < 2; ++dg)
      for (int db = 0; db < 2; ++db) {
        const double w = (dr ? x : 1 - x) * (dg ? y : 1 - y) * (db ? z : 1 - z);
        expect += w * lut.data[MatchLut::entryOffset(2, dr, dg, db)];
      }
  EXPECT_NEAR(r, expect, 1e-6);
}

TEST(MatchLutLookup, FastFormIsBitIdenticalToScalarForm) {
  for (int n : {2, 17, 65}) {
    MatchLut lut;
    ASSERT_TRUE(lut.allocate(n));
    fillRandom(lut, static_cast<unsigned>(n));
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-0.25f, 1.25f);
    for (int i = 0; i < 20000; ++i) {
      float in[3] = {u(rng), u(rng), u(rng)};
      if (i % 5 == 0) in[i % 3] = (i & 1) ? 1.0f : 0.0f;
      float r, g, b, fast[4];
      lut.lookup(in[0], in[1], in[2], r, g, b);
      lookupFast(lut, in[0], in[1], in[2], fast);
      ASSERT_EQ(std::memcmp(&r, &fast[0], 4), 0) << n << " " << in[0] << " " << in[1] << " " << in[2];
      ASSERT_EQ(std::memcmp(&g, &fast[1], 4), 0);
      ASSERT_EQ(std::memcmp(&b, &fast[2], 4), 0);
    }
  }
}

}  // namespace

namespace {

TEST(MatchLutLookup, FastPixelLoopMatchesScalarClampLookupAndMix) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  fillRandom(lut, 21);
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(-0.5f, 1.5f);
  const int count = 5000;
  std::vector<float> in(count * 4), out(count * 4);
  for (float &v : in) v = u(rng);
  in[0] = std::numeric_limits<float>::quiet_NaN();
  in[5] = std::numeric_limits<float>::infinity();
  in[3] = -0.0f;
  in[7] = std::numeric_limits<float>::quiet_NaN();
  const float s[3] = {0.3f, 1.0f, 0.0f};
  mapPixelsFloatRgba(in.data(), out.data(), count, lut, s);
  for (int p = 0; p < count; ++p) {
    float c[3], l[3];
    for (int ch = 0; ch < 3; ++ch) {
      const float t = (in[p * 4 + ch] < 1.0f) ? in[p * 4 + ch] : 1.0f;
      c[ch] = (t > 0.0f) ? t : 0.0f;
    }
    lut.lookup(c[0], c[1], c[2], l[0], l[1], l[2]);
    for (int ch = 0; ch < 3; ++ch) {
      const float expect = (1.0f - s[ch]) * c[ch] + s[ch] * l[ch];
      ASSERT_EQ(std::memcmp(&expect, &out[p * 4 + ch], 4), 0) << p << " " << ch;
    }
    ASSERT_EQ(std::memcmp(&in[p * 4 + 3], &out[p * 4 + 3], 4), 0) << "alpha bits of pixel " << p;
  }
}

}  // namespace

namespace {

// The wide loop (two pixels a step) and the narrow one agree bit for bit, for
// every count, including odd tails.
TEST(MatchLutLookup, WidePixelLoopEqualsNarrowLoop) {
  MatchLut lut;
  ASSERT_TRUE(lut.allocate(65));
  fillRandom(lut, 31);
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> u(-0.5f, 1.5f);
  std::vector<float> in(4 * 257);
  for (float &v : in) v = u(rng);
  in[9] = std::numeric_limits<float>::quiet_NaN();
  const float s[3] = {0.7f, 0.2f, 1.0f};
  for (int count : {0, 1, 2, 3, 256, 257}) {
    std::vector<float> wide(in.size(), -7.0f), narrow(in.size(), -7.0f);
    mapPixelsFloatRgba(in.data(), wide.data(), count, lut, s);
    mapPixelsFloatRgbaSse(in.data(), narrow.data(), count, lut, s);
    ASSERT_EQ(std::memcmp(wide.data(), narrow.data(), wide.size() * 4), 0) << count;
  }
}

}  // namespace
