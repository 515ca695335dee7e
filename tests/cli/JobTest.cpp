// A job is all or nothing: every output and export is written under a
// temporary name and put in place only when all have succeeded. Replaced
// files keep their permission bits, links are followed, and devices and
// pipes are refused alike for pictures and exports.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace clitest;

namespace {

class AllOrNothing : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir / "src.png", makePicture(12, 10, 1), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(12, 10, 4), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "out.png", makePicture(4, 4, 2), OIIO::TypeDesc::UINT8, 3));
  }
  void TearDown() override {
    if (immutable) std::system(("chattr -i " + quote(dir / "look.cube") + " 2>/dev/null").c_str());
  }

  void expectNothingChanged(const std::vector<std::string> &args, const std::string &message) {
    const auto before = folderContents(dir.path().string());
    const RunResult r = runTool(args);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("saved"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("wrote"), std::string::npos) << r.out;
    EXPECT_EQ(folderContents(dir.path().string()), before) << r.err;
  }

  std::vector<std::string> match(const std::string &cube) {
    return {"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png", "--cube", cube};
  }

  ScratchDir dir;
  bool immutable = false;
};

TEST_F(AllOrNothing, AnExportThatCannotBeSavedLeavesThePictureUnwritten) {
  fs::create_directory(dir / "folder.cube");
  expectNothingChanged(match(dir / "folder.cube"), "cannot write '" + (dir / "folder.cube") + "'");
  const std::string tooLong = dir / (std::string(300, 'x') + ".cube");
  expectNothingChanged(match(tooLong), "cannot write '" + tooLong + "'");
  std::ofstream(dir / "look.cube") << "an earlier LUT\n";
  immutable = std::system(("chattr +i " + quote(dir / "look.cube") + " 2>/dev/null").c_str()) == 0;
  if (immutable) expectNothingChanged(match(dir / "look.cube"), "cannot write '" + (dir / "look.cube") + "'");
}

TEST_F(AllOrNothing, ASequenceThatFailsPartWayKeepsEveryEarlierFrame) {
  for (int f = 1; f <= 10; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "s.%04d.png", f);
    if (f == 7)
      std::ofstream(dir / name) << "not a picture";
    else
      ASSERT_TRUE(writeFile(dir / name, makePicture(8, 6, f), OIIO::TypeDesc::UINT8, 3));
    std::snprintf(name, sizeof name, "o.%04d.png", f);
    ASSERT_TRUE(writeFile(dir / name, makePicture(3, 3, f), OIIO::TypeDesc::UINT8, 3));
  }
  expectNothingChanged({"match", dir / "s.%04d.png", dir / "ref.png", "-o", dir / "o.%04d.png", "--frames", "1-10",
                        "--cube", dir / "seq.cube"},
                       "cannot read image '" + (dir / "s.0007.png") + "'");
}

TEST_F(AllOrNothing, ReplacedFilesKeepTheirModeAndLinksLeadToTheFileReplaced) {
  std::ofstream(dir / "look.cube") << "an earlier LUT\n";
  fs::permissions(dir / "look.cube", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir / "out.png", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_directory(dir / "real");
  std::ofstream(dir / "real/grade.cdl") << "an earlier CDL\n";
  fs::create_symlink(dir / "real/grade.cdl", dir / "grade.cdl");
  fs::create_symlink(dir / "real/shown.png", dir / "shown.png");  // leads nowhere yet
  const RunResult r = runTool({"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png", "--cube",
                               dir / "look.cube", "--cdl", dir / "grade.cdl", "--compare", dir / "shown.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::status(dir / "look.cube").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir / "out.png").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_NE(slurp(dir / "look.cube").find("LUT_3D_SIZE 65"), std::string::npos);
  EXPECT_TRUE(fs::is_symlink(dir / "grade.cdl"));
  EXPECT_NE(slurp(dir / "real/grade.cdl").find("urn:ASC:CDL:v1.01"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(dir / "shown.png"));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"grade.cdl", "look.cube", "out.png", "real", "ref.png",
                                                   "shown.png", "src.png"}));
}

TEST_F(AllOrNothing, DevicesAndPipesAreRefusedForPicturesAndExportsAlike) {
  std::vector<std::string> specials;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  specials.push_back(dir / "pipe");
  if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) specials.push_back(dir / "null");
  for (const std::string &special : specials) {
    for (const char *option : {"-o", "--cube", "--cdl", "--compare"}) {
      std::vector<std::string> args = {"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png"};
      if (std::string(option) == "-o")
        args.back() = special;
      else
        args.insert(args.end(), {option, special});
      expectNothingChanged(args, "cannot write '" + special + "': not a regular file");
      EXPECT_FALSE(fs::is_regular_file(special)) << option;
    }
  }
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
