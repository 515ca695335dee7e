// Exported files read by other applications' code: OpenColorIO for both
// formats and ffmpeg's lut3d filter for the .cube.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ExportTestSupport.h"
#include "export/CdlValues.h"
#include "lut/MatchLut.h"

#if defined(TINTBRIDGE_HAVE_OCIO)
#include <OpenColorIO/OpenColorIO.h>
namespace OCIO = OCIO_NAMESPACE;
#endif

using namespace exporttest;

namespace {

struct Strengths {
  float mix, r, g, b;
};

const Strengths kStrengthSets[] = {
    {1.0f, 1.0f, 1.0f, 1.0f}, {0.8f, 1.0f, 0.6f, 0.3f}, {0.0f, 1.0f, 1.0f, 1.0f}, {0.5f, 0.0f, 0.25f, 1.0f}};

// What the render makes of an in-range colour with these strengths.
void ourRender(const MatchLut &lut, const Strengths &s, const float in[3], float out[3]) {
  float looked[3];
  lut.lookup(in[0], in[1], in[2], looked[0], looked[1], looked[2]);
  const float per[3] = {s.r, s.g, s.b};
  for (int c = 0; c < 3; ++c) {
    const float k = static_cast<float>(static_cast<double>(per[c]) * static_cast<double>(s.mix));
    out[c] = (1.0f - k) * in[c] + k * looked[c];
  }
}

// Colours on and between grid points, corners included.
std::vector<std::array<float, 3>> testColours() {
  std::vector<std::array<float, 3>> colours;
  const float steps[] = {0.0f, 0.013f, 0.2f, 0.37f, 0.5f, 0.61803f, 0.875f, 0.99f, 1.0f};
  for (float r : steps) {
    for (float g : steps) {
      for (float b : steps) colours.push_back({r, g, b});
    }
  }
  return colours;
}

struct CdlFile {
  float slope[3], offset[3], power[3], saturation;
};

// Reads the numbers back from the file, as any reader would.
bool parseCdl(const std::string &text, CdlFile &v) {
  const size_t slope = text.find("<Slope>"), offset = text.find("<Offset>"), power = text.find("<Power>"),
               sat = text.find("<Saturation>");
  if (slope == std::string::npos || offset == std::string::npos || power == std::string::npos ||
      sat == std::string::npos) {
    return false;
  }
  return std::sscanf(text.c_str() + slope, "<Slope>%f %f %f", &v.slope[0], &v.slope[1], &v.slope[2]) == 3 &&
         std::sscanf(text.c_str() + offset, "<Offset>%f %f %f", &v.offset[0], &v.offset[1], &v.offset[2]) == 3 &&
         std::sscanf(text.c_str() + power, "<Power>%f %f %f", &v.power[0], &v.power[1], &v.power[2]) == 3 &&
         std::sscanf(text.c_str() + sat, "<Saturation>%f", &v.saturation) == 1;
}

// ASC CDL math: slope, offset and power per channel, then saturation around
// Rec. 709 luma. OpenColorIO applies a .cdl file's correction in its
// non-clamping style, so no clamp here either.
void cdlMath(const CdlFile &v, const float in[3], float out[3]) {
  float sop[3];
  for (int c = 0; c < 3; ++c) {
    sop[c] = in[c] * v.slope[c] + v.offset[c];
    if (v.power[c] != 1.0f && sop[c] > 0.0f) sop[c] = std::pow(sop[c], v.power[c]);
  }
  const float luma = 0.2126f * sop[0] + 0.7152f * sop[1] + 0.0722f * sop[2];
  for (int c = 0; c < 3; ++c) out[c] = luma + v.saturation * (sop[c] - luma);
}

// A grade that is exactly a CDL: slope 0.8, offset 0.1, then more colour.
void fillCdlLike(MatchLut &lut, int n) {
  const float d = static_cast<float>(n - 1);
  fillLut(lut, n, [d](int r, int g, int b, float *out) {
    float c[3] = {static_cast<float>(r) / d, static_cast<float>(g) / d, static_cast<float>(b) / d};
    for (float &x : c) x = 0.8f * x + 0.1f;
    const float y = 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2];
    for (int k = 0; k < 3; ++k) out[k] = y + 1.5f * (c[k] - y);
  });
}

}  // namespace

#if defined(TINTBRIDGE_HAVE_OCIO)

namespace {

OCIO::ConstCPUProcessorRcPtr loadWithOcio(const std::string &path, const char *cccId) {
  OCIO::FileTransformRcPtr transform = OCIO::FileTransform::Create();
  transform->setSrc(path.c_str());
  transform->setInterpolation(OCIO::INTERP_LINEAR);
  transform->setDirection(OCIO::TRANSFORM_DIR_FORWARD);
  if (cccId != nullptr) transform->setCCCId(cccId);
  OCIO::ConstProcessorRcPtr processor = OCIO::Config::CreateRaw()->getProcessor(transform);
  return processor->getOptimizedCPUProcessor(OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32, OCIO::OPTIMIZATION_NONE);
}

}  // namespace

TEST(InteropOcio, CubeMapsColoursAsOurRenderDoes) {
  TempDir dir;
  MatchLut grade, identity;
  fillGrade(grade, 65);
  fillIdentity(identity, 65);
  const MatchLut *luts[] = {&grade, &identity};
  const auto colours = testColours();
  int fileIndex = 0;
  for (const MatchLut *lut : luts) {
    for (const Strengths &s : kStrengthSets) {
      const std::string path = dir.file("look" + std::to_string(fileIndex++) + ".cube");
      ASSERT_TRUE(lut->writeCube(path.c_str(), s.mix, s.r, s.g, s.b));
      OCIO::ConstCPUProcessorRcPtr cpu;
      ASSERT_NO_THROW(cpu = loadWithOcio(path, nullptr)) << path;
      float worst = 0.0f;
      for (const auto &colour : colours) {
        float theirs[3] = {colour[0], colour[1], colour[2]};
        cpu->applyRGB(theirs);
        float ours[3];
        ourRender(*lut, s, colour.data(), ours);
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(theirs[c] - ours[c]));
      }
      EXPECT_LE(worst, 1e-5f) << path << " mix " << s.mix << " R " << s.r << " G " << s.g << " B " << s.b;
    }
  }
}

TEST(InteropOcio, CdlMapsColoursAsCdlMathSays) {
  TempDir dir;
  MatchLut lut;
  fillCdlLike(lut, 65);
  CdlValues values = {{1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 1.0f};
  lut.fitCdl(values);
  EXPECT_NEAR(values.slope[0], 0.8f, 1e-5f);
  EXPECT_NEAR(values.offset[1], 0.1f, 1e-5f);
  EXPECT_NEAR(values.saturation, 1.2f, 1e-5f);
  const std::string path = dir.file("look.cdl");
  ASSERT_TRUE(writeCdl(path.c_str(), values));
  CdlFile parsed;
  ASSERT_TRUE(parseCdl(readFile(path), parsed));

  const auto colours = testColours();
  for (const char *id : {"Tintbridge", "0"}) {
    OCIO::ConstCPUProcessorRcPtr cpu;
    ASSERT_NO_THROW(cpu = loadWithOcio(path, id)) << id;
    float worst = 0.0f;
    for (const auto &colour : colours) {
      float theirs[3] = {colour[0], colour[1], colour[2]};
      cpu->applyRGB(theirs);
      float expected[3];
      cdlMath(parsed, colour.data(), expected);
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(theirs[c] - expected[c]));
    }
    EXPECT_LE(worst, 1e-5f) << "correction id " << id;
  }
}

#else

TEST(InteropOcio, NeedsOpenColorIO) { GTEST_SKIP() << "OpenColorIO was not found when the tests were configured"; }

#endif

namespace {

bool haveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// A 16-bit binary PPM holding the colours, one per pixel, in a width x 1 strip.
void writePpm16(const std::string &path, const std::vector<std::array<uint16_t, 3>> &pixels) {
  std::string data = "P6\n" + std::to_string(pixels.size()) + " 1\n65535\n";
  for (const auto &p : pixels) {
    for (uint16_t v : p) {
      data.push_back(static_cast<char>(v >> 8));
      data.push_back(static_cast<char>(v & 0xff));
    }
  }
  writeFile(path, data);
}

// Reads a 16-bit binary PPM; empty on any surprise.
std::vector<std::array<uint16_t, 3>> readPpm16(const std::string &path) {
  const std::string text = readFile(path);
  int width = 0, height = 0, maxValue = 0, consumed = 0;
  if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &consumed) != 3 || maxValue != 65535) {
    return {};
  }
  const size_t start = static_cast<size_t>(consumed) + 1;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (text.size() < start + count * 6) return {};
  std::vector<std::array<uint16_t, 3>> pixels(count);
  for (size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) {
      const unsigned char hi = static_cast<unsigned char>(text[start + i * 6 + c * 2]);
      const unsigned char lo = static_cast<unsigned char>(text[start + i * 6 + c * 2 + 1]);
      pixels[i][c] = static_cast<uint16_t>((hi << 8) | lo);
    }
  }
  return pixels;
}

}  // namespace

TEST(InteropFfmpeg, Lut3dFilterAgreesWithin16BitQuantisation) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  MatchLut lut;
  fillGrade(lut, 65);
  std::vector<std::array<uint16_t, 3>> input;
  for (const auto &colour : testColours()) {
    input.push_back({static_cast<uint16_t>(std::lround(colour[0] * 65535.0f)),
                     static_cast<uint16_t>(std::lround(colour[1] * 65535.0f)),
                     static_cast<uint16_t>(std::lround(colour[2] * 65535.0f))});
  }
  const std::string in = dir.file("in.ppm");
  writePpm16(in, input);

  for (const Strengths &s : {kStrengthSets[0], kStrengthSets[1]}) {
    const std::string cube = dir.file("look.cube");
    const std::string out = dir.file("out.ppm");
    ASSERT_TRUE(lut.writeCube(cube.c_str(), s.mix, s.r, s.g, s.b));
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + in + "' -vf \"lut3d=file='" + cube +
                                "':interp=trilinear\" -pix_fmt rgb48be -f image2 -c:v ppm '" + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto output = readPpm16(out);
    ASSERT_EQ(output.size(), input.size());
    float worst = 0.0f;
    for (size_t i = 0; i < input.size(); ++i) {
      const float colour[3] = {input[i][0] / 65535.0f, input[i][1] / 65535.0f, input[i][2] / 65535.0f};
      float ours[3];
      ourRender(lut, s, colour, ours);
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(output[i][c] / 65535.0f - ours[c]));
    }
    // ffmpeg truncates to 16 bits: up to one step, plus a little float slack.
    EXPECT_LE(worst, 2.0f / 65535.0f) << "mix " << s.mix;
  }
}
