// Every failure: a message that says what went wrong, exit status 2, and no
// file written (no output, no export, no temporary file left behind).
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

class Errors : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir / "src.png", makePicture(12, 10, 1), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(12, 10, 4), OIIO::TypeDesc::UINT8, 3));
    before = dir.names();
  }

  // Runs the command and checks the status, the message and that the folder
  // holds what it held before.
  void expectFailure(const std::vector<std::string> &args, const std::string &message) {
    const RunResult r = runTool(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << "wanted \"" << message << "\" in: " << r.err;
    EXPECT_EQ(dir.names(), before) << "after: " << r.err;
  }

  std::vector<std::string> match(std::vector<std::string> extra) {
    std::vector<std::string> args = {"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png",
                                     "--cube", dir / "out.cube", "--cdl", dir / "out.cdl", "--compare", dir / "c.jpg"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  ScratchDir dir;
  std::vector<std::string> before;
};

TEST_F(Errors, MissingOrUnreadableImages) {
  expectFailure({"match", dir / "nope.png", dir / "ref.png", "-o", dir / "out.png"},
                "cannot read image '" + (dir / "nope.png") + "': no such file");
  expectFailure({"match", dir / "src.png", dir / "nope.jpg", "-o", dir / "out.png"}, "cannot read image");
  std::ofstream(dir / "junk.png") << "not a picture at all";
  before = dir.names();
  expectFailure({"match", dir / "src.png", dir / "junk.png", "-o", dir / "out.png", "--cube", dir / "x.cube"},
                "cannot read image '" + (dir / "junk.png") + "'");
  fs::create_directory(dir / "folder.png");
  before = dir.names();
  expectFailure({"match", dir / "folder.png", dir / "ref.png", "-o", dir / "out.png"}, "not a file");
  expectFailure(match({"--source-mask", dir / "nomask.png"}), "cannot read image '" + (dir / "nomask.png") + "'");
}

TEST_F(Errors, UnknownOptionsAndValues) {
  expectFailure(match({"--bogus"}), "unknown option '--bogus'");
  expectFailure(match({"--mode", "sideways"}), "invalid value 'sideways' for --mode");
  expectFailure(match({"--preserve", "hue"}), "invalid value 'hue' for --preserve");
  expectFailure(match({"--mix", "1.5"}), "invalid value '1.5' for --mix");
  expectFailure(match({"--mix-red", "nan"}), "invalid value 'nan' for --mix-red");
  expectFailure(match({"--mix-blue", "-0.1"}), "invalid value '-0.1' for --mix-blue");
  expectFailure(match({"--threads", "0"}), "invalid value '0' for --threads");
  expectFailure(match({"--depth", "12"}), "invalid value '12' for --depth");
  expectFailure(match({"--frames", "9-3"}), "invalid value '9-3' for --frames");
  expectFailure(match({"--analysis", "sometimes"}), "invalid value 'sometimes' for --analysis");
  expectFailure(match({"--analysis-frames", "0"}), "invalid value '0' for --analysis-frames");
  expectFailure(match({"--analysis-frames=251"}), "invalid value '251' for --analysis-frames");
  expectFailure(match({"--analysis-window", "101"}), "invalid value '101' for --analysis-window");
  expectFailure(match({"--analysis-window", "-3"}), "invalid value '-3' for --analysis-window");
  expectFailure(match({"--analysis-range", "4-2"}), "invalid value '4-2' for --analysis-range");
  expectFailure(match({"--analysis-range", "0-0"}), "option '--analysis-range' needs --frames");
  expectFailure(match({"--mix"}), "option '--mix' needs a value");
  expectFailure({"match", dir / "src.png", dir / "ref.png"}, "needs an output file");
  expectFailure({"match", dir / "src.png", "-o", dir / "out.png"}, "needs a SOURCE and a REFERENCE");
  expectFailure({"transmogrify"}, "unknown command 'transmogrify'");
  expectFailure(match({"-o", dir / "out.xyz"}), "no image format for the extension");
}

TEST_F(Errors, BundleThatDoesNotLoad) {
  expectFailure(match({"--plugin", dir / "missing.ofx.bundle"}), "cannot load the plug-in bundle");
  // A bundle whose binary is not a loadable module.
  const fs::path binary = dir.path() / "Broken.ofx.bundle" / "Contents" /
                          fs::path(tbhost::Host::resolveBinaryPath(dir / "Broken.ofx.bundle")).parent_path().filename();
  fs::create_directories(binary);
  std::ofstream(tbhost::Host::resolveBinaryPath(dir / "Broken.ofx.bundle")) << "garbage";
  before = dir.names();
  expectFailure(match({"--plugin", dir / "Broken.ofx.bundle"}),
                "cannot load the plug-in bundle '" + (dir / "Broken.ofx.bundle") + "'");
  expectFailure({"describe", "--plugin", dir / "Broken.ofx.bundle"}, "cannot load the plug-in bundle");
}

TEST_F(Errors, OutputFolderThatDoesNotExist) {
  for (const char *option : {"-o", "--cube", "--cdl", "--compare"}) {
    expectFailure(match({option, dir / "no/such/folder/x.png"}),
                  "output folder '" + (dir / "no/such/folder") + "' does not exist");
  }
}

TEST_F(Errors, SequenceProblemsStopBeforeAnyFrameIsWritten) {
  for (int f : {1, 3}) ASSERT_TRUE(writeFile(dir / ("s." + std::to_string(f) + ".png"), makePicture(8, 8, f),
                                             OIIO::TypeDesc::UINT8, 3));
  before = dir.names();
  expectFailure({"match", dir / "s.%d.png", dir / "ref.png", "-o", dir / "o.%d.png", "--frames", "1-3"},
                "cannot read image '" + (dir / "s.2.png") + "': no such file");
  expectFailure({"match", dir / "s.%d.png", dir / "ref.png", "-o", dir / "o.%d.png"}, "--frames");
  expectFailure({"match", dir / "s.%d.png", dir / "ref.png", "-o", dir / "o.png", "--frames", "1"},
                "needs a frame number pattern");
  expectFailure({"match", dir / "src.png", dir / "ref.png", "-o", dir / "o.png", "--frames", "1-3"},
                "--frames needs a SOURCE with a frame number pattern");
  // The analysis range lies within the frames, and 0-0 would be the whole shot.
  for (const char *range : {"0-2", "2-4", "0-0"})
    expectFailure({"match", dir / "s.%d.png", dir / "ref.png", "-o", dir / "o.%d.png", "--frames", "1-3",
                   "--analysis-range", range},
                  "invalid value '" + std::string(range) + "' for --analysis-range");
  expectFailure({"match", dir / "s.%d.png", dir / "ref.png", "-o", dir / "o.%d.png", "--frames", "0-3",
                 "--analysis-range", "0-0"},
                "0-0 stands for the whole shot");
}

TEST_F(Errors, HelpNamesEveryOption) {
  const RunResult r = runTool({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *option : {"--mode", "--preserve", "--mix ", "--mix-red", "--mix-green", "--mix-blue",
                             "--source-mask", "--reference-mask", "--cube", "--cdl", "--compare", "--threads",
                             "--frames", "--depth", "--plugin", "--analysis ", "--analysis-range",
                             "--analysis-frames", "--analysis-window", "Example:"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
