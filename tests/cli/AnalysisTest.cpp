// Analysis over several frames on a sequence: a pan across one picture, so
// that a colour seen in two frames is the same colour in both.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kStep = 4;  // pixels the pan moves a frame
constexpr int kFrames = 8;

std::string frameName(const std::string &stem, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.exr", stem.c_str(), frame);
  return name;
}

class Analysis : public testing::Test {
 protected:
  void SetUp() override {
    const Pixels wide = makePicture(kWidth + kStep * (kFrames - 1), kHeight, 3);
    for (int f = 1; f <= kFrames; ++f) {
      Pixels crop;
      crop.width = kWidth;
      crop.height = kHeight;
      crop.rgba.resize(static_cast<size_t>(kWidth) * kHeight * 4);
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
          std::copy(wide.at(x + kStep * (f - 1), y), wide.at(x + kStep * (f - 1), y) + 4, crop.at(x, y));
      ASSERT_TRUE(writeFile(dir / frameName("pan", f), crop, OIIO::TypeDesc::FLOAT, 4));
    }
    ASSERT_TRUE(writeFile(dir / "ref.exr", makePicture(48, 32, 5), OIIO::TypeDesc::FLOAT, 4));
  }

  RunResult run(const std::string &stem, std::vector<std::string> extra) {
    std::vector<std::string> args = {"match", dir / "pan.%04d.exr", dir / "ref.exr", "-o", dir / (stem + ".####.exr"),
                                     "--frames", "1-" + std::to_string(kFrames), "--threads", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(args);
  }

  // The largest difference between the outputs of the first and the last
  // frame where they saw the same colour.
  float mappingDifference(const std::string &stem) {
    const Pixels first = readFile(dir / frameName(stem, 1));
    const Pixels last = readFile(dir / frameName(stem, kFrames));
    const int shift = kStep * (kFrames - 1);
    float worst = 0.0f;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x + shift < kWidth; ++x)
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(last.at(x, y)[c] - first.at(x + shift, y)[c]));
    return worst;
  }

  ScratchDir dir;
};

TEST_F(Analysis, EveryIsTodaysMatchAndRangeOneMatchForTheShot) {
  const RunResult plain = run("plain", {});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const RunResult every = run("every", {"--analysis", "every", "--analysis-frames", "3", "--analysis-window", "2"});
  ASSERT_EQ(every.status, 0) << every.err;
  // Exactly today's pixels (the files' bytes differ by their time stamps).
  for (int f = 1; f <= kFrames; ++f)
    expectSamePixels(readFile(dir / frameName("every", f)), readFile(dir / frameName("plain", f)), frameName("every", f));
  // Each frame measured alone: the pan changes the match.
  EXPECT_GT(mappingDifference("every"), 1e-3f);

  const RunResult range = run("range", {"--analysis", "range", "--cube", dir / "shot.cube"});
  ASSERT_EQ(range.status, 0) << range.err;
  EXPECT_LT(mappingDifference("range"), 1e-6f);
  EXPECT_NE(slurp(dir / "shot.cube").find("LUT_3D_SIZE 65"), std::string::npos);
}

TEST_F(Analysis, RollingWindowsAreTheHostsWithEveryFrameAtItsTime) {
  const RunResult rolling = run("rolling", {"--analysis", "rolling", "--analysis-window", "2"});
  ASSERT_EQ(rolling.status, 0) << rolling.err;
  ASSERT_EQ(run("every", {}).status, 0);

  tbhost::Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  tbhost::Instance instance = host.createInstance(kOfxImageEffectContextGeneral);
  instance.setParam("analysis", 2);
  instance.setParam("analysisWindow", 2);
  for (int f = 1; f <= kFrames; ++f) instance.setImage("Source", f, toHost(readFile(dir / frameName("pan", f))));
  instance.setImage("Reference", toHost(readFile(dir / "ref.exr")));
  bool differs = false;
  for (int f = 1; f <= kFrames; ++f) {
    auto output = tbhost::Image::rgbaFloat(kWidth, kHeight);
    instance.setImage("Output", f, output);
    ASSERT_EQ(instance.render(f, OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
    const Pixels got = readFile(dir / frameName("rolling", f));
    expectSamePixels(got, fromHost(*output), frameName("rolling", f));
    differs = differs || got.rgba != readFile(dir / frameName("every", f)).rgba;
  }
  EXPECT_TRUE(differs);
}

TEST_F(Analysis, AFrameOfTheRangeThatCannotBeReadFailsTheJobAtOnce) {
  std::ofstream(dir / frameName("pan", 5), std::ios::trunc) << "not a picture";
  const auto before = folderContents(dir.path().string());
  const RunResult r = run("out", {"--analysis", "range", "--analysis-frames", "8"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot read image '" + (dir / frameName("pan", 5)) + "'"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("frame 1 "), std::string::npos) << "failed only when frame 5 came: " << r.err;
  EXPECT_EQ(folderContents(dir.path().string()), before);
}

TEST_F(Analysis, OnePictureIsItsOwnRange) {
  std::vector<std::string> still = {"match", dir / frameName("pan", 1), dir / "ref.exr", "-o"};
  auto with = [&](const std::string &out, std::vector<std::string> extra) {
    std::vector<std::string> args = still;
    args.push_back(dir / out);
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(args);
  };
  ASSERT_EQ(with("every.exr", {}).status, 0);
  for (const char *mode : {"range", "rolling"}) {
    const RunResult r = with(std::string(mode) + ".exr", {"--analysis", mode});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSamePixels(readFile(dir / (std::string(mode) + ".exr")), readFile(dir / "every.exr"), mode);
  }
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
