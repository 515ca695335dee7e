// The command's match against the same match rendered through the headless
// host: pixels, exports, sequences, threads, and the installed command.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

struct HostRun {
  tbhost::Host host{TINTBRIDGE_BUNDLE_BINARY};
  tbhost::Instance instance;
  explicit HostRun(const Settings &settings) {
    EXPECT_EQ(host.load(), kOfxStatOK) << host.lastError();
    instance = host.createInstance(kOfxImageEffectContextGeneral);
    applySettings(instance, settings);
  }
  // Presses an export button with "exportPath" set to `path`.
  void press(const std::string &button, const std::string &path) {
    instance.setParam("exportPath", path);
    instance.instanceChanged(button);
  }
};

TEST(MatchAgainstHost, DifferentClipsWithMaskMixesAndExports) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "src.exr", makePicture(40, 30, 1), OIIO::TypeDesc::FLOAT, 4));
  ASSERT_TRUE(writeFile(dir / "ref.exr", makePicture(24, 36, 5), OIIO::TypeDesc::FLOAT, 4));
  // A matte on the left half only: an 8-bit grey file.
  Pixels matte = makePicture(40, 30, 0);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) matte.at(x, y)[0] = x < 20 ? 1.0f : 0.0f;
  ASSERT_TRUE(writeFile(dir / "matte.png", matte, OIIO::TypeDesc::UINT8, 1));

  const RunResult r = runTool({"match", dir / "src.exr", dir / "ref.exr", "-o", dir / "out.exr", "--preserve",
                               "brightness", "--mix", "0.8", "--mix-green", "0.5", "--source-mask", dir / "matte.png",
                               "--cube", dir / "look.cube", "--cdl", dir / "look.cdl", "--threads", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("LUT saved to: " + (dir / "look.cube")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CDL saved to: " + (dir / "look.cdl")), std::string::npos) << r.out;

  Settings s;
  s.preserve = 1;
  s.mix = 0.8;
  s.mixGreen = 0.5;
  HostRun run(s);
  const Pixels mask = readFile(dir / "matte.png");
  const Pixels expected =
      renderThroughHost(run.host, run.instance, 0.0, readFile(dir / "src.exr"), readFile(dir / "ref.exr"), &mask);
  const Pixels got = readFile(dir / "out.exr");
  expectSamePixels(got, expected, "out.exr");
  EXPECT_EQ(got.format, OIIO::TypeDesc::FLOAT);

  run.press("exportButton", dir / "host.cube");
  run.press("exportCDLButton", dir / "host.cdl");
  EXPECT_TRUE(slurp(dir / "look.cube") == slurp(dir / "host.cube"));
  EXPECT_EQ(slurp(dir / "look.cdl"), slurp(dir / "host.cdl"));
  // The mask made a difference, so it really reached the plug-in.
  HostRun unmasked(s);
  const Pixels withoutMask =
      renderThroughHost(unmasked.host, unmasked.instance, 0.0, readFile(dir / "src.exr"), readFile(dir / "ref.exr"));
  EXPECT_NE(withoutMask.rgba, expected.rgba);
}

TEST(MatchAgainstHost, SameFramePreservingColours) {
  ScratchDir dir;
  Pixels source = makePicture(32, 32, 2);
  Pixels graded = source;
  for (size_t i = 0; i < graded.rgba.size(); i += 4) {
    graded.rgba[i] *= 0.7f;
    graded.rgba[i + 2] = 0.2f + 0.8f * graded.rgba[i + 2];
  }
  ASSERT_TRUE(writeFile(dir / "a.exr", source, OIIO::TypeDesc::FLOAT, 4));
  ASSERT_TRUE(writeFile(dir / "b.exr", graded, OIIO::TypeDesc::FLOAT, 4));
  const RunResult r = runTool({"match", dir / "a.exr", dir / "b.exr", "-o", dir / "out.exr", "--mode", "same",
                               "--preserve", "colors", "--cube", dir / "same.cube"});
  ASSERT_EQ(r.status, 0) << r.err;
  Settings s;
  s.mode = 1;
  s.preserve = 2;
  HostRun run(s);
  expectSamePixels(readFile(dir / "out.exr"),
                   renderThroughHost(run.host, run.instance, 0.0, readFile(dir / "a.exr"), readFile(dir / "b.exr")),
                   "Same Frame");
  run.press("exportButton", dir / "host.cube");
  EXPECT_TRUE(slurp(dir / "same.cube") == slurp(dir / "host.cube"));
}

TEST(MatchAgainstHost, ExportsGoToExactlyTheNamesGiven) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "src.png", makePicture(16, 16, 1), OIIO::TypeDesc::UINT8, 3));
  ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(16, 16, 4), OIIO::TypeDesc::UINT8, 3));
  const RunResult r = runTool({"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png", "--cube",
                               dir / "look.lut", "--cdl", dir / "grade.xml", "--compare", dir / "check.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"check.png", "grade.xml", "look.lut", "out.png", "ref.png",
                                                   "src.png"}));
  EXPECT_NE(slurp(dir / "look.lut").find("LUT_3D_SIZE 65"), std::string::npos);
  EXPECT_NE(slurp(dir / "grade.xml").find("urn:ASC:CDL:v1.01"), std::string::npos);
  // Three panels side by side with captions below.
  const Pixels compare = readFile(dir / "check.png");
  EXPECT_GT(compare.width, 3 * 16);
  EXPECT_GT(compare.height, 16);
}

TEST(Sequences, EveryFrameIsMatchedAtItsOwnTime) {
  ScratchDir dir;
  for (int f = 7; f <= 9; ++f) {
    char name[64];
    std::snprintf(name, sizeof name, "shot.%04d.exr", f);
    ASSERT_TRUE(writeFile(dir / name, makePicture(20, 14, f), OIIO::TypeDesc::FLOAT, 4));
    std::snprintf(name, sizeof name, "grade.%02d.exr", f);
    ASSERT_TRUE(writeFile(dir / name, makePicture(18, 12, 3 * f + 1), OIIO::TypeDesc::FLOAT, 4));
  }
  ASSERT_TRUE(writeFile(dir / "still.exr", makePicture(18, 12, 2), OIIO::TypeDesc::FLOAT, 4));

  // A reference sequence of its own, and a still reference.
  const RunResult a = runTool({"match", dir / "shot.%04d.exr", dir / "grade.##.exr", "-o", dir / "out.####.exr",
                               "--frames", "7-9", "--cube", dir / "last.cube"});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.err.find("frame 8 (2/3"), std::string::npos) << a.err;
  const RunResult b =
      runTool({"match", dir / "shot.####.exr", dir / "still.exr", "-o", dir / "still.%04d.exr", "--frames", "7-9"});
  ASSERT_EQ(b.status, 0) << b.err;

  HostRun own(Settings{}), still(Settings{});
  for (int f = 7; f <= 9; ++f) {
    char src[64], ref[64], out[64], outStill[64];
    std::snprintf(src, sizeof src, "shot.%04d.exr", f);
    std::snprintf(ref, sizeof ref, "grade.%02d.exr", f);
    std::snprintf(out, sizeof out, "out.%04d.exr", f);
    std::snprintf(outStill, sizeof outStill, "still.%04d.exr", f);
    expectSamePixels(readFile(dir / out),
                     renderThroughHost(own.host, own.instance, f, readFile(dir / src), readFile(dir / ref)), out);
    expectSamePixels(readFile(dir / outStill),
                     renderThroughHost(still.host, still.instance, f, readFile(dir / src), readFile(dir / "still.exr")),
                     outStill);
  }
  // The exported LUT is the last frame's.
  own.press("exportButton", dir / "host.cube");
  EXPECT_TRUE(slurp(dir / "last.cube") == slurp(dir / "host.cube"));
}

TEST(Threads, FourThreadsGiveTheSamePixelsAsOne) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "src.exr", makePicture(203, 157, 3), OIIO::TypeDesc::FLOAT, 4));
  ASSERT_TRUE(writeFile(dir / "ref.exr", makePicture(120, 90, 8), OIIO::TypeDesc::FLOAT, 4));
  // Same Frame pairs the pixels of two grades of one picture: one size.
  ASSERT_TRUE(writeFile(dir / "graded.exr", makePicture(203, 157, 8), OIIO::TypeDesc::FLOAT, 4));
  for (const char *mode : {"different", "same"}) {
    const std::string reference = dir / (std::string(mode) == "same" ? "graded.exr" : "ref.exr");
    const RunResult one = runTool({"match", dir / "src.exr", reference, "-o", dir / "one.exr", "--mode", mode,
                                   "--threads", "1"});
    const RunResult four = runTool({"match", dir / "src.exr", reference, "-o", dir / "four.exr", "--mode", mode,
                                    "--threads", "4"});
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(four.status, 0) << four.err;
    expectSamePixels(readFile(dir / "four.exr"), readFile(dir / "one.exr"), mode);
  }
}

TEST(Install, InstalledCommandFindsTheInstalledBundle) {
  ScratchDir dir;
  const std::string prefix = dir / "prefix";
  const std::string command = "cmake --install " + quote(TINTBRIDGE_BINARY_DIR) + " --prefix " + quote(prefix) +
                              " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const RunResult r = runTool({"describe"}, prefix + "/bin/tintbridge");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("module:         " + prefix + "/OFX/Plugins/Bridgetint.ofx.bundle"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Save as .cdl"), std::string::npos);
  // Integer parameters show their integer ranges.
  EXPECT_NE(r.out.find("default 12, range 1 to 250"), std::string::npos) << r.out;
}

}  // namespace

#else

#include <gtest/gtest.h>

TEST(Cli, NotBuilt) { GTEST_SKIP() << "built without the tintbridge command"; }

#endif  // TINTBRIDGE_CLI_TESTS
