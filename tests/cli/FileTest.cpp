// Image files through the command: each depth and format comes back as it
// went in (with a mix of 0 the match leaves the picture unchanged), straight
// alpha stays straight, and --depth chooses the output's depth.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

// Values every depth holds exactly: multiples of 1/255 hold in 8 and 16 bits
// (65535 = 257 * 255), and k/256 in half.
Pixels exactPicture(int width, int height, bool eightBitSteps) {
  Pixels p = makePicture(width, height, 1);
  for (size_t i = 0; i < p.rgba.size(); ++i) {
    const int k = static_cast<int>((i * 37) % 256);
    p.rgba[i] = eightBitSteps ? static_cast<float>(k % 256) / 255.0f : static_cast<float>(k) / 256.0f;
  }
  return p;
}

struct Case {
  const char *name;
  OIIO::TypeDesc format;
  int channels;
};

TEST(RoundTrip, EveryDepthComesBackUnchanged) {
  const Case cases[] = {{"in8.png", OIIO::TypeDesc::UINT8, 4},   {"in16.tif", OIIO::TypeDesc::UINT16, 4},
                        {"in16.png", OIIO::TypeDesc::UINT16, 3}, {"inhalf.exr", OIIO::TypeDesc::HALF, 4},
                        {"infloat.exr", OIIO::TypeDesc::FLOAT, 4}, {"in8.jpg", OIIO::TypeDesc::UINT8, 3}};
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "ref.exr", makePicture(8, 8, 6), OIIO::TypeDesc::FLOAT, 4));
  for (const Case &c : cases) {
    const bool integer = c.format != OIIO::TypeDesc::HALF && c.format != OIIO::TypeDesc::FLOAT;
    ASSERT_TRUE(writeFile(dir / c.name, exactPicture(19, 11, integer), c.format, c.channels)) << c.name;
    const std::string ext = std::string(c.name).substr(std::string(c.name).rfind('.'));
    const std::string out = dir / (std::string("out-") + c.name);
    const RunResult r = runTool({"match", dir / c.name, dir / "ref.exr", "-o", out, "--mix", "0"});
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    const Pixels in = readFile(dir / c.name);  // JPEG: as decoded
    const Pixels got = readFile(out);
    EXPECT_EQ(got.format, c.format) << c.name;
    EXPECT_EQ(got.channels, c.channels) << c.name;
    if (ext == ".jpg") {
      // Lossy again on the way out: close, not equal.
      double worst = 0;
      for (size_t i = 0; i < in.rgba.size(); ++i) worst = std::max(worst, std::fabs(double(in.rgba[i]) - got.rgba[i]));
      EXPECT_LT(worst, 0.2) << c.name;
    } else {
      expectSamePixels(got, in, c.name);
    }
  }
}

TEST(RoundTrip, StraightAlphaIsNeverPremultiplied) {
  ScratchDir dir;
  // Bright colours under a nearly transparent alpha: premultiplying and
  // dividing again in 8 bits would lose them.
  Pixels p = makePicture(6, 4, 0);
  for (size_t i = 0; i < p.rgba.size(); i += 4) {
    p.rgba[i] = 201.0f / 255;
    p.rgba[i + 1] = 77.0f / 255;
    p.rgba[i + 2] = 250.0f / 255;
    p.rgba[i + 3] = static_cast<float>(3 + (i / 4) % 5) / 255;
  }
  for (const char *name : {"a.png", "a.tif"}) {
    ASSERT_TRUE(writeFile(dir / name, p, OIIO::TypeDesc::UINT8, 4));
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(6, 4, 3), OIIO::TypeDesc::UINT8, 3));
    const std::string out = dir / (std::string("out-") + name);
    const RunResult r = runTool({"match", dir / name, dir / "ref.png", "-o", out, "--mix", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSamePixels(readFile(out), readFile(dir / name), name);
  }
}

TEST(RoundTrip, DepthOptionChoosesTheOutputDepth) {
  ScratchDir dir;
  const Pixels p = exactPicture(9, 7, true);
  ASSERT_TRUE(writeFile(dir / "in.png", p, OIIO::TypeDesc::UINT8, 4));
  ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(9, 7, 2), OIIO::TypeDesc::UINT8, 4));
  struct Depth {
    const char *name;
    OIIO::TypeDesc format;
    const char *extension;
  };
  const Depth depths[] = {{"16", OIIO::TypeDesc::UINT16, ".tif"},
                          {"half", OIIO::TypeDesc::HALF, ".exr"},
                          {"float", OIIO::TypeDesc::FLOAT, ".tif"}};
  for (const Depth &d : depths) {
    const std::string out = dir / (std::string("out-") + d.name + d.extension);
    const RunResult r = runTool({"match", dir / "in.png", dir / "ref.png", "-o", out, "--mix", "0", "--depth", d.name});
    ASSERT_EQ(r.status, 0) << r.err;
    const Pixels got = readFile(out);
    EXPECT_EQ(got.format, d.format) << d.name;
    double worst = 0;
    for (size_t i = 0; i < p.rgba.size(); ++i) worst = std::max(worst, std::fabs(double(p.rgba[i]) - got.rgba[i]));
    EXPECT_LT(worst, 1e-3) << d.name;
  }
  // And down to 8 bits from float.
  ASSERT_TRUE(writeFile(dir / "f.exr", p, OIIO::TypeDesc::FLOAT, 4));
  const RunResult r = runTool({"match", dir / "f.exr", dir / "ref.png", "-o", dir / "f8.png", "--mix", "0", "--depth", "8"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Pixels got = readFile(dir / "f8.png");
  EXPECT_EQ(got.format, OIIO::TypeDesc::UINT8);
  expectSamePixels(got, readFile(dir / "in.png"), "float to 8 bits");
}

TEST(RoundTrip, TenBitDpxStaysTenBit) {
  ScratchDir dir;
  Pixels p = makePicture(10, 6, 2);
  for (size_t i = 0; i < p.rgba.size(); ++i) p.rgba[i] = static_cast<float>((i * 97) % 1024) / 1023.0f;
  {
    auto out = OIIO::ImageOutput::create(dir / "in.dpx");
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(p.width, p.height, 3, OIIO::TypeDesc::UINT16);
    spec.attribute("oiio:BitsPerSample", 10);
    ASSERT_TRUE(out->open(dir / "in.dpx", spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, p.rgba.data(), 4 * sizeof(float)));
    ASSERT_TRUE(out->close());
  }
  ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(6, 6, 5), OIIO::TypeDesc::UINT8, 3));
  const RunResult r = runTool({"match", dir / "in.dpx", dir / "ref.png", "-o", dir / "out.dpx", "--mix", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto in = OIIO::ImageInput::open(dir / "out.dpx");
  ASSERT_TRUE(in);
  EXPECT_EQ(in->spec().get_int_attribute("oiio:BitsPerSample"), 10);
  expectSamePixels(readFile(dir / "out.dpx"), readFile(dir / "in.dpx"), "10-bit DPX");
}

TEST(RoundTrip, OrientationHintIsKept) {
  ScratchDir dir;
  const Pixels p = exactPicture(8, 4, true);
  {
    auto out = OIIO::ImageOutput::create(dir / "turned.tif");
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(p.width, p.height, 4, OIIO::TypeDesc::UINT8);
    spec.attribute("Orientation", 6);
    ASSERT_TRUE(out->open(dir / "turned.tif", spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, p.rgba.data()));
    ASSERT_TRUE(out->close());
  }
  ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(6, 6, 5), OIIO::TypeDesc::UINT8, 3));
  // TIFF carries the hint: the pixels stay as stored.
  RunResult r = runTool({"match", dir / "turned.tif", dir / "ref.png", "-o", dir / "out.tif", "--mix", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto in = OIIO::ImageInput::open(dir / "out.tif");
  ASSERT_TRUE(in);
  EXPECT_EQ(in->spec().get_int_attribute("Orientation", 1), 6);
  expectSamePixels(readFile(dir / "out.tif"), readFile(dir / "turned.tif"), "pixels as stored");
  // PNG does not: the picture is written upright, turned 90 degrees clockwise.
  r = runTool({"match", dir / "turned.tif", dir / "ref.png", "-o", dir / "out.png", "--mix", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Pixels stored = readFile(dir / "turned.tif");
  const Pixels upright = readFile(dir / "out.png");
  ASSERT_EQ(upright.width, 4);
  ASSERT_EQ(upright.height, 8);
  size_t differences = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 4; ++c)
        if (upright.at(x, y)[c] != stored.at(y, 3 - x)[c]) ++differences;
  EXPECT_EQ(differences, 0u);
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
