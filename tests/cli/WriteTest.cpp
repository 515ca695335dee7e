// Writes that fail part-way: on a full disk every format reports the failure
// with the user's file named, exits with status 2 and leaves the earlier
// files and no temporary behind.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

// Noise does not compress, so its files are about as large as its pixels.
Pixels noise(int width, int height) {
  Pixels p = makePicture(width, height, 0);
  unsigned state = 12345;
  for (size_t i = 0; i < p.rgba.size(); ++i) {
    state = state * 1103515245u + 12345u;
    if (i % 4 != 3) p.rgba[i] = static_cast<float>((state >> 16) & 0xff) / 255.0f;
  }
  return p;
}

class FullDisk : public testing::Test {
 protected:
  static constexpr size_t kLeft = 16 * 1024;

  void SetUp() override {
    ASSERT_TRUE(writeFile(dir / "src.png", noise(160, 120), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(40, 30, 4), OIIO::TypeDesc::UINT8, 3));
    // The earlier results, which a failed run must leave as they are.
    ASSERT_TRUE(writeFile(disk / "out.png", makePicture(8, 8, 2), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(disk / "out.jpg", makePicture(8, 8, 3), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(disk / "c.jpg", makePicture(8, 8, 5), OIIO::TypeDesc::UINT8, 3));
    space.fill(kLeft);
    beforeDir = folderContents(dir.path().string());
    beforeDisk = folderContents(disk.path().string());
  }

  void expectRefused(const std::vector<std::string> &args, const std::string &file) {
    const RunResult r = runTool(args, TINTBRIDGE_CLI_BINARY, space.limit(kLeft));
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot write '" + file + "': "), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.find("No space left on device") != std::string::npos ||
                r.err.find("File too large") != std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("wrote"), std::string::npos) << r.out;
    EXPECT_EQ(folderContents(dir.path().string()), beforeDir);
    EXPECT_EQ(folderContents(disk.path().string()), beforeDisk);
  }

  ScratchDir dir;
  ScratchDir disk{"-disk"};
  SmallDisk space{disk.path().string(), 512};
  std::map<std::string, std::string> beforeDir, beforeDisk;
};

TEST_F(FullDisk, EveryFormatReportsTheFailureAndKeepsTheEarlierFile) {
  for (const char *name : {"out.png", "out.jpg"})
    expectRefused({"match", dir / "src.png", dir / "ref.png", "-o", disk / name}, disk / name);
  // The comparison fails after the output was finished: neither appears.
  expectRefused({"match", dir / "src.png", dir / "ref.png", "-o", dir / "out.png", "--compare", disk / "c.jpg"},
                disk / "c.jpg");
  expectRefused({"grade", dir / "src.png", "-o", disk / "out.png"}, disk / "out.png");
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
