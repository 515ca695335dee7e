// Smaller faults: frame patterns, the comparison's width, the grade's
// values, messages that name the user's files, the EXR windows and the
// plug-in's debug lines.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

class SmallFaults : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir / "src.png", makePicture(12, 10, 1), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(12, 10, 4), OIIO::TypeDesc::UINT8, 3));
  }

  void expectRefused(const std::vector<std::string> &args, const std::string &message) {
    const auto before = folderContents(dir.path().string());
    const RunResult r = runTool(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".tintbridge-"), std::string::npos) << r.err;
    EXPECT_EQ(folderContents(dir.path().string()), before);
  }

  ScratchDir dir;
};

TEST_F(SmallFaults, FramePatternsOnlyWithFramesAndNeverTooWide) {
  for (int f = 1; f <= 2; ++f) ASSERT_TRUE(writeFile(dir / ("s." + std::to_string(f) + ".png"), makePicture(8, 6, f),
                                                   OIIO::TypeDesc::UINT8, 3));
  for (const std::string &output : {std::string("o.%40d.png"), "o." + std::string(40, '#') + ".png"})
    expectRefused({"match", dir / "s.%d.png", dir / "ref.png", "-o", dir / output, "--frames", "1-2"},
                  "is wider than 31 digits");
  // Without --frames, '#' and "%d" are part of a still's name.
  fs::create_directory(dir / "Shot #3");
  ASSERT_TRUE(writeFile(dir / "Shot #3/plate.png", makePicture(8, 6, 3), OIIO::TypeDesc::UINT8, 3));
  const RunResult r = runTool({"match", dir / "Shot #3/plate.png", dir / "ref.png", "-o", dir / "out %d #1.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir / "out %d #1.png").width, 8);
}

TEST_F(SmallFaults, TheComparisonKeepsToItsWidth) {
  ASSERT_TRUE(writeFile(dir / "line.exr", makePicture(30000, 1, 2), OIIO::TypeDesc::HALF, 3));
  const RunResult r = runTool({"match", dir / "line.exr", dir / "ref.png", "-o", dir / "out.exr", "--compare",
                               dir / "c.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LE(readFile(dir / "c.png").width, 1800);
}

TEST_F(SmallFaults, GradeValuesAreBoundedAndResultsFinite) {
  for (const char *option : {"--slope", "--offset", "--power", "--saturation"})
    expectRefused({"grade", dir / "src.png", "-o", dir / "g.exr", option, "1e308"},
                  std::string("invalid value '1e308' for ") + option);
  Pixels bright = makePicture(4, 4, 1);
  for (float &v : bright.rgba) v = 1e30f;
  ASSERT_TRUE(writeFile(dir / "bright.exr", bright, OIIO::TypeDesc::FLOAT, 4));
  const RunResult r = runTool({"grade", dir / "bright.exr", "-o", dir / "g.exr", "--slope", "100", "--power", "10",
                               "--saturation", "10", "--offset", "-10,0,10"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (float v : readFile(dir / "g.exr").rgba) EXPECT_TRUE(std::isfinite(v)) << v;
}

TEST_F(SmallFaults, MessagesNameTheUsersFilesAndTheReason) {
  fs::create_symlink(dir / "loop.png", dir / "loop.png");
  expectRefused({"match", dir / "loop.png", dir / "ref.png", "-o", dir / "out.png"},
                "cannot read image '" + (dir / "loop.png") + "': Too many levels of symbolic links");
  ScratchDir locked("-locked");
  SmallDisk disk(locked.path().string(), 256);
  if (disk.makeReadOnly()) {
    const RunResult r = runTool({"match", dir / "src.png", dir / "ref.png", "-o", locked / "out.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write '" + (locked / "out.png") + "': "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".tintbridge-"), std::string::npos) << r.err;
  }
  // A module named without a folder is the file of that name here.
  const fs::path module = tbhost::Host::resolveBinaryPath(TINTBRIDGE_BINARY_DIR "/Bridgetint.ofx.bundle");
  const RunResult here = runTool({"describe", "--plugin", module.filename().string()}, TINTBRIDGE_CLI_BINARY,
                                 "cd " + quote(module.parent_path().string()) + " && ");
  EXPECT_EQ(here.status, 0) << here.err;
}

TEST_F(SmallFaults, ExrDataAndDisplayWindowsAreKept) {
  const Pixels p = makePicture(12, 10, 1);
  {
    auto out = OIIO::ImageOutput::create(dir / "window.exr");
    OIIO::ImageSpec spec(12, 10, 4, OIIO::TypeDesc::HALF);
    spec.x = 5;
    spec.y = 7;
    spec.full_x = -2;
    spec.full_y = 1;
    spec.full_width = 30;
    spec.full_height = 20;
    ASSERT_TRUE(out->open(dir / "window.exr", spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, p.rgba.data()));
    ASSERT_TRUE(out->close());
  }
  const RunResult r = runTool({"match", dir / "window.exr", dir / "ref.png", "-o", dir / "out.exr"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto in = OIIO::ImageInput::open(dir / "out.exr");
  ASSERT_TRUE(in);
  const OIIO::ImageSpec &spec = in->spec();
  EXPECT_EQ(std::vector<int>({spec.x, spec.y, spec.width, spec.height}), std::vector<int>({5, 7, 12, 10}));
  EXPECT_EQ(std::vector<int>({spec.full_x, spec.full_y, spec.full_width, spec.full_height}),
            std::vector<int>({-2, 1, 30, 20}));
}

TEST_F(SmallFaults, ThePluginsDebugLinesOnlyWhenVerbose) {
  const std::vector<std::string> args = {"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png", "--cube",
                                         dir / "look.cube"};
  const RunResult quiet = runTool(args);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find("Tintbridge: "), std::string::npos) << quiet.err;
  EXPECT_NE(quiet.out.find("LUT saved to: " + (dir / "look.cube")), std::string::npos) << quiet.out;
  std::vector<std::string> verbose = args;
  verbose.push_back("--verbose");
  const RunResult loud = runTool(verbose);
  ASSERT_EQ(loud.status, 0) << loud.err;
  EXPECT_NE(loud.err.find("Tintbridge: CREATE INSTANCE"), std::string::npos) << loud.err;
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
