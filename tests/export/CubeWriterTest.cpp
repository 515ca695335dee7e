// The .cube writer: exact bytes, the bake of the strengths, the clamp and the
// refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ExportTestSupport.h"
#include "lut/MatchLut.h"

using namespace exporttest;

namespace {

const size_t kHeaderLines = 9;  // eight lines, the last followed by an empty one

std::vector<std::string> writeAndSplit(const MatchLut &lut, const std::string &path, float mix, float r, float g,
                                       float b) {
  EXPECT_TRUE(lut.writeCube(path.c_str(), mix, r, g, b));
  return splitLines(readFile(path));
}

}  // namespace

TEST(CubeWriter, IdentityBakeHasTheExactLayout) {
  TempDir dir;
  MatchLut lut;
  // Any finite LUT with mix 0 writes the identity ramp.
  fillLut(lut, 65, [](int, int, int, float *out) { out[0] = out[1] = out[2] = 0.3f; });
  const std::string path = dir.file("identity.cube");
  ASSERT_TRUE(lut.writeCube(path.c_str(), 0.0f, 1.0f, 1.0f, 1.0f));
  const std::string text = readFile(path);
  const std::vector<std::string> lines = splitLines(text);
  ASSERT_EQ(lines.size(), kHeaderLines + 274625);
  EXPECT_EQ(lines[0], "TITLE \"Tintbridge LUT\"");
  EXPECT_EQ(lines[7], "LUT_3D_SIZE 65");
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[kHeaderLines + 0], "0.000000 0.000000 0.000000");
  EXPECT_EQ(lines[kHeaderLines + 1], "0.015625 0.000000 0.000000");
  EXPECT_EQ(lines[kHeaderLines + 65], "0.000000 0.015625 0.000000");
  EXPECT_EQ(lines[kHeaderLines + 65 * 65], "0.000000 0.000000 0.015625");
  EXPECT_EQ(lines.back(), "1.000000 1.000000 1.000000");

  size_t headerBytes = 0;
  for (size_t i = 0; i < kHeaderLines; ++i) headerBytes += lines[i].size() + 1;
  EXPECT_EQ(text.size() - headerBytes, 7414875u);
  for (size_t i = kHeaderLines; i < lines.size(); ++i) ASSERT_EQ(lines[i].size(), 26u) << "data line " << i;
}

TEST(CubeWriter, ZeroStrengthsAlsoWriteTheIdentity) {
  TempDir dir;
  MatchLut lut;
  fillLut(lut, 5, [](int, int, int, float *out) { out[0] = 0.9f, out[1] = 0.1f, out[2] = 0.4f; });
  const auto lines = writeAndSplit(lut, dir.file("z.cube"), 1.0f, 0.0f, 0.0f, 0.0f);
  ASSERT_EQ(lines.size(), kHeaderLines + 125);
  EXPECT_EQ(lines[kHeaderLines + 1], "0.250000 0.000000 0.000000");
  EXPECT_EQ(lines[kHeaderLines + 5 + 2], "0.500000 0.250000 0.000000");
  EXPECT_EQ(lines.back(), "1.000000 1.000000 1.000000");
}

TEST(CubeWriter, HeaderShowsValuesAsPassedAndRawCorners) {
  TempDir dir;
  MatchLut lut;
  fillLut(lut, 65, [](int r, int g, int b, float *out) {
    out[0] = out[1] = out[2] = 0.5f;
    if (r == 0 && g == 0 && b == 0) out[0] = 0.125f, out[1] = -0.25f, out[2] = 0.0625f;
    if (r == 32 && g == 32 && b == 32) out[0] = 0.3333f, out[1] = 0.4444f, out[2] = 0.5555f;
    if (r == 64 && g == 64 && b == 64) out[0] = 1.25f, out[1] = 0.75f, out[2] = 0.875f;
  });
  auto lines = writeAndSplit(lut, dir.file("h.cube"), 0.5f, 1.0f, 0.25f, 0.0f);
  ASSERT_GE(lines.size(), kHeaderLines);
  EXPECT_EQ(lines[1], "# Baked strength: Mix=0.5000, R=1.0000, G=0.2500, B=0.0000");
  EXPECT_EQ(lines[2], "# Combined: sR=0.5000, sG=0.1250, sB=0.0000");
  EXPECT_EQ(lines[3], "# LUT size: 65, valid: 1");
  EXPECT_EQ(lines[4], "# Raw LUT[0,0,0]: 0.1250 -0.2500 0.0625");
  EXPECT_EQ(lines[5], "# Raw LUT[mid]: 0.3333 0.4444 0.5555");
  EXPECT_EQ(lines[6], "# Raw LUT[1,1,1]: 1.2500 0.7500 0.8750");

  // A grid with data but cleared `valid` is still written, and says so.
  lut.valid = false;
  lines = writeAndSplit(lut, dir.file("h2.cube"), 1.0f, 1.0f, 1.0f, 1.0f);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], "# LUT size: 65, valid: 0");
}

TEST(CubeWriter, FullStrengthWritesTheGridInCubeOrder) {
  TempDir dir;
  MatchLut lut;
  const int n = 4;
  // Each grid point carries its own indices, so a misplaced line shows.
  fillLut(lut, n, [](int r, int g, int b, float *out) {
    out[0] = 0.1f * static_cast<float>(r) + 0.01f;
    out[1] = 0.1f * static_cast<float>(g) + 0.02f;
    out[2] = 0.1f * static_cast<float>(b) + 0.03f;
  });
  const auto lines = writeAndSplit(lut, dir.file("order.cube"), 1.0f, 1.0f, 1.0f, 1.0f);
  ASSERT_EQ(lines.size(), kHeaderLines + 64);
  for (int b = 0; b < n; ++b) {
    for (int g = 0; g < n; ++g) {
      for (int r = 0; r < n; ++r) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.6f %.6f %.6f", 0.1 * r + 0.01, 0.1 * g + 0.02, 0.1 * b + 0.03);
        EXPECT_EQ(lines[kHeaderLines + r + n * g + n * n * b], expected) << r << "," << g << "," << b;
      }
    }
  }
}

TEST(CubeWriter, PartialStrengthsBlendPerChannel) {
  TempDir dir;
  MatchLut lut;
  fillLut(lut, 3, [](int, int, int, float *out) { out[0] = out[1] = out[2] = 0.25f; });
  // sR = 0.5, sG = 0.25, sB = 0: red is half ramp, half LUT; blue stays the ramp.
  const auto lines = writeAndSplit(lut, dir.file("p.cube"), 0.5f, 1.0f, 0.5f, 0.0f);
  ASSERT_EQ(lines.size(), kHeaderLines + 27);
  EXPECT_EQ(lines[kHeaderLines + 0], "0.125000 0.062500 0.000000");
  EXPECT_EQ(lines[kHeaderLines + 1], "0.375000 0.062500 0.000000");
  EXPECT_EQ(lines[kHeaderLines + 3 + 2], "0.625000 0.437500 0.000000");
  EXPECT_EQ(lines.back(), "0.625000 0.812500 1.000000");
}

TEST(CubeWriter, ClampsOutOfRangeNegativeZeroAndNan) {
  TempDir dir;
  MatchLut lut;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  fillLut(lut, 2, [nan](int r, int, int, float *out) {
    out[0] = r == 0 ? 1.2f : -0.05f;
    out[1] = -0.0f;
    out[2] = nan;
  });
  auto lines = writeAndSplit(lut, dir.file("c.cube"), 1.0f, 1.0f, 1.0f, 1.0f);
  ASSERT_EQ(lines.size(), kHeaderLines + 8);
  EXPECT_EQ(lines[kHeaderLines + 0], "1.000000 0.000000 1.000000");
  EXPECT_EQ(lines[kHeaderLines + 1], "0.000000 0.000000 1.000000");

  // NaN survives a zero strength (0 x NaN is NaN) and still prints as 1.
  lines = writeAndSplit(lut, dir.file("c0.cube"), 0.0f, 0.0f, 0.0f, 0.0f);
  ASSERT_EQ(lines.size(), kHeaderLines + 8);
  EXPECT_EQ(lines[kHeaderLines + 0], "0.000000 0.000000 1.000000");
  EXPECT_EQ(lines[kHeaderLines + 1], "1.000000 0.000000 1.000000");
  for (size_t i = kHeaderLines; i < lines.size(); ++i) EXPECT_EQ(lines[i].find('-'), std::string::npos) << lines[i];
}

TEST(CubeWriter, RefusesWithoutAGridAndCreatesNothing) {
  TempDir dir;
  const std::string path = dir.file("none.cube");
  MatchLut empty;
  EXPECT_FALSE(empty.writeCube(path.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));

  MatchLut tiny;  // a one-point grid cannot be a .cube
  tiny.data = new float[3]{0.5f, 0.5f, 0.5f};
  tiny.size = 1;
  tiny.valid = true;
  EXPECT_FALSE(tiny.writeCube(path.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));

  MatchLut lut;
  fillIdentity(lut, 2);
  EXPECT_FALSE(lut.writeCube(nullptr, 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_FALSE(lut.writeCube("", 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_TRUE(dir.names().empty());
}
