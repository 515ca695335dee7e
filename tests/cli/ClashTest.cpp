// Outputs named like an input or like another output: refused before
// anything is rendered, whatever the spelling, for every frame of a sequence.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

class NameClashes : public testing::Test {
 protected:
  void SetUp() override {
    for (const char *name : {"src.png", "ref.png", "mask.png", "s.0001.png", "s.0002.png"})
      ASSERT_TRUE(writeFile(dir / name, makePicture(12, 10, static_cast<int>(std::string(name).size())),
                            OIIO::TypeDesc::UINT8, 3));
    fs::create_symlink(dir / "src.png", dir / "link.png");
    before = folderContents(dir.path().string());
  }

  // Runs in the scratch folder, so that names can be spelled relatively.
  void expectClash(const std::vector<std::string> &args, const std::string &named) {
    const RunResult r = runTool(args, TINTBRIDGE_CLI_BINARY, "cd " + quote(dir.path().string()) + " && ");
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("'" + named + "'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
    EXPECT_EQ(folderContents(dir.path().string()), before) << r.err;
  }

  ScratchDir dir;
  std::map<std::string, std::string> before;
};

TEST_F(NameClashes, AnOutputNeverReplacesAnInput) {
  const std::vector<std::string> still = {"match", "src.png", "ref.png", "--source-mask", "mask.png"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = still;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  expectClash(with({"-o", "src.png"}), "src.png");
  expectClash(with({"-o", "./link.png"}), "./link.png");
  expectClash(with({"-o", "out.png", "--cube", "src.png"}), "src.png");
  expectClash(with({"-o", "out.png", "--cdl", "ref.png"}), "ref.png");
  expectClash(with({"-o", "out.png", "--compare", "mask.png"}), "mask.png");
  // A sequence written over its own Source frames.
  expectClash({"match", "s.%04d.png", "ref.png", "-o", "s.####.png", "--frames", "1-2"}, "s.####.png");
}

TEST_F(NameClashes, TwoOutputsNeverNameOneFile) {
  const std::vector<std::string> still = {"match", "src.png", "ref.png", "-o"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = still;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  expectClash(with({"out.png", "--compare", "./out.png"}), "./out.png");
  expectClash(with({"out.png", "--cube", "x.cube", "--cdl", "./x.cube"}), "./x.cube");
  expectClash(with({"out.png", "--compare", dir / "out.png"}), dir / "out.png");
  expectClash({"match", "s.%04d.png", "ref.png", "-o", "o.%04d.png", "--compare", "o.####.png", "--frames", "1-2"},
              "o.####.png");
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
