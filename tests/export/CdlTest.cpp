// CDL fit against LUTs with known answers, and the exact .cdl file.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ExportTestSupport.h"
#include "export/CdlValues.h"
#include "lut/MatchLut.h"

using namespace exporttest;

namespace {

CdlValues startValues() { return CdlValues{{1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 1.0f}; }

CdlValues fit(const MatchLut &lut) {
  CdlValues values = startValues();
  lut.fitCdl(values);
  return values;
}

std::string written(const CdlValues &values) {
  TempDir dir;
  const std::string path = dir.file("v.cdl");
  EXPECT_TRUE(writeCdl(path.c_str(), values));
  return readFile(path);
}

// Lines 5, 6 and 10 of the file: slope, offset and saturation.
struct SopLines {
  std::string slope, offset, power, saturation;
};

SopLines sopLines(const CdlValues &values) {
  const auto lines = splitLines(written(values));
  EXPECT_EQ(lines.size(), 13u);
  if (lines.size() != 13u) return {};
  return {lines[4], lines[5], lines[6], lines[9]};
}

float luma(const float *c) { return (0.7152f * c[1] + 0.2126f * c[0]) + 0.0722f * c[2]; }

// A LUT that scales each colour's distance from its luma by `factor`.
void fillSaturation(MatchLut &lut, int n, float factor) {
  const float d = static_cast<float>(n - 1);
  fillLut(lut, n, [d, factor](int r, int g, int b, float *out) {
    const float in[3] = {static_cast<float>(r) / d, static_cast<float>(g) / d, static_cast<float>(b) / d};
    const float y = luma(in);
    for (int c = 0; c < 3; ++c) out[c] = y + factor * (in[c] - y);
  });
}

// A LUT whose every channel follows y = slope * x + offset of its own coordinate.
void fillLine(MatchLut &lut, int n, float slope, float offset) {
  const float d = static_cast<float>(n - 1);
  fillLut(lut, n, [d, slope, offset](int r, int g, int b, float *out) {
    out[0] = slope * (static_cast<float>(r) / d) + offset;
    out[1] = slope * (static_cast<float>(g) / d) + offset;
    out[2] = slope * (static_cast<float>(b) / d) + offset;
  });
}

}  // namespace

TEST(CdlWriter, IdentityLutGivesTheExactFile) {
  MatchLut lut;
  fillIdentity(lut, 65);
  EXPECT_EQ(written(fit(lut)),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<ColorCorrectionCollection xmlns=\"urn:ASC:CDL:v1.01\">\n"
            "  <ColorCorrection id=\"Tintbridge\">\n"
            "    <SOPNode>\n"
            "      <Slope>1.000000 1.000000 1.000000</Slope>\n"
            "      <Offset>0.000000 0.000000 0.000000</Offset>\n"
            "      <Power>1.000000 1.000000 1.000000</Power>\n"
            "    </SOPNode>\n"
            "    <SatNode>\n"
            "      <Saturation>1.000000</Saturation>\n"
            "    </SatNode>\n"
            "  </ColorCorrection>\n"
            "</ColorCorrectionCollection>\n");
}

TEST(CdlWriter, PrintsValuesAsGivenIncludingNegativeZero) {
  CdlValues values = {{0.5f, 1.25f, 3.0f}, {-0.0000001f, 0.125f, -1.0f}, {1.0f, 1.0f, 1.0f}, 0.75f};
  const SopLines lines = sopLines(values);
  EXPECT_EQ(lines.slope, "      <Slope>0.500000 1.250000 3.000000</Slope>");
  EXPECT_EQ(lines.offset, "      <Offset>-0.000000 0.125000 -1.000000</Offset>");
  EXPECT_EQ(lines.saturation, "      <Saturation>0.750000</Saturation>");
}

TEST(CdlFit, GreyAxisLines) {
  MatchLut lut;
  fillLine(lut, 65, 2.0f, -0.1f);
  SopLines lines = sopLines(fit(lut));
  EXPECT_EQ(lines.slope, "      <Slope>2.000000 2.000000 2.000000</Slope>");
  EXPECT_EQ(lines.offset, "      <Offset>-0.100000 -0.100000 -0.100000</Offset>");

  fillLine(lut, 65, 5.0f, 0.0f);  // slope clamps at 4
  lines = sopLines(fit(lut));
  EXPECT_EQ(lines.slope, "      <Slope>4.000000 4.000000 4.000000</Slope>");

  fillLine(lut, 65, 0.5f, -3.0f);  // offset clamps at -1
  lines = sopLines(fit(lut));
  EXPECT_EQ(lines.slope, "      <Slope>0.500000 0.500000 0.500000</Slope>");
  EXPECT_EQ(lines.offset, "      <Offset>-1.000000 -1.000000 -1.000000</Offset>");

  fillLine(lut, 65, -1.0f, 3.0f);  // slope clamps at 0, offset at 1
  lines = sopLines(fit(lut));
  EXPECT_EQ(lines.slope, "      <Slope>0.000000 0.000000 0.000000</Slope>");
  EXPECT_EQ(lines.offset, "      <Offset>1.000000 1.000000 1.000000</Offset>");
}

TEST(CdlFit, ChannelsAreFittedSeparately) {
  MatchLut lut;
  const int n = 17;
  const float d = static_cast<float>(n - 1);
  fillLut(lut, n, [d](int r, int g, int b, float *out) {
    out[0] = 0.5f * (static_cast<float>(r) / d) + 0.25f;
    out[1] = static_cast<float>(g) / d;
    out[2] = 1.5f * (static_cast<float>(b) / d) - 0.5f;
  });
  const SopLines lines = sopLines(fit(lut));
  EXPECT_EQ(lines.slope, "      <Slope>0.500000 1.000000 1.500000</Slope>");
  EXPECT_EQ(lines.offset, "      <Offset>0.250000 0.000000 -0.500000</Offset>");
}

TEST(CdlFit, ConstantGreyHasNoSlopeAndNoSaturation) {
  MatchLut lut;
  fillLut(lut, 65, [](int, int, int, float *out) { out[0] = out[1] = out[2] = 0.5f; });
  const SopLines lines = sopLines(fit(lut));
  EXPECT_EQ(lines.slope, "      <Slope>0.000000 0.000000 0.000000</Slope>");
  EXPECT_EQ(lines.offset, "      <Offset>0.500000 0.500000 0.500000</Offset>");
  EXPECT_EQ(lines.power, "      <Power>1.000000 1.000000 1.000000</Power>");
  EXPECT_EQ(lines.saturation, "      <Saturation>0.000000</Saturation>");
}

TEST(CdlFit, SaturationIsTheMeanCornerChromaRatio) {
  MatchLut lut;
  fillSaturation(lut, 65, 2.0f);
  EXPECT_EQ(sopLines(fit(lut)).saturation, "      <Saturation>2.000000</Saturation>");
  fillSaturation(lut, 65, 0.5f);
  EXPECT_EQ(sopLines(fit(lut)).saturation, "      <Saturation>0.500000</Saturation>");
  fillSaturation(lut, 65, 5.0f);  // clamps at 4
  EXPECT_EQ(sopLines(fit(lut)).saturation, "      <Saturation>4.000000</Saturation>");
  // Only the six corners count: a change elsewhere leaves the ratio alone.
  fillSaturation(lut, 9, 2.0f);
  lut.data[MatchLut::entryOffset(9, 4, 0, 0)] = 1e6f;
  EXPECT_FLOAT_EQ(fit(lut).saturation, 2.0f);
}

TEST(CdlFit, NanGridClampsEveryValue) {
  MatchLut lut;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  fillLut(lut, 9, [nan](int, int, int, float *out) { out[0] = out[1] = out[2] = nan; });
  const CdlValues values = fit(lut);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(values.slope[c], 4.0f);
    EXPECT_EQ(values.offset[c], 1.0f);
    EXPECT_EQ(values.power[c], 1.0f);
  }
  EXPECT_EQ(values.saturation, 4.0f);
}

TEST(CdlFit, LeavesValuesAloneWithoutAUsableGridAndNeverTouchesPower) {
  const CdlValues marker = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}, 7};
  MatchLut lut;
  fillLine(lut, 9, 2.0f, 0.0f);
  lut.valid = false;
  CdlValues values = marker;
  lut.fitCdl(values);
  EXPECT_EQ(values.slope[0], 7.0f);
  EXPECT_EQ(values.saturation, 7.0f);

  MatchLut empty;
  empty.valid = true;
  empty.fitCdl(values);
  EXPECT_EQ(values.offset[2], 7.0f);

  lut.valid = true;
  lut.fitCdl(values);
  EXPECT_FLOAT_EQ(values.slope[1], 2.0f);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(values.power[c], 7.0f);
}

