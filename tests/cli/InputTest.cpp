// Inputs of other sizes: Same Frame refuses a Reference of another size,
// and a mask of another size is scaled to its picture's, measuring what the
// matte at the picture's own size measures.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

using namespace clitest;

namespace {

// White on the left half, black on the right.
Pixels halfMatte(int width, int height) {
  Pixels m = makePicture(width, height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) m.at(x, y)[0] = x < width / 2 ? 1.0f : 0.0f;
  return m;
}

TEST(Inputs, SameFrameRefusesAReferenceOfAnotherSize) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "a.png", makePicture(12, 10, 1), OIIO::TypeDesc::UINT8, 3));
  ASSERT_TRUE(writeFile(dir / "b.png", makePicture(10, 8, 2), OIIO::TypeDesc::UINT8, 3));
  const auto before = folderContents(dir.path().string());
  const RunResult r = runTool({"match", dir / "a.png", dir / "b.png", "-o", dir / "out.png", "--mode", "same"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("'" + (dir / "a.png") + "' is 12 x 10"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'" + (dir / "b.png") + "' is 10 x 8"), std::string::npos) << r.err;
  EXPECT_EQ(folderContents(dir.path().string()), before);
}

TEST(Inputs, AMaskIsScaledToItsPicture) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "src.exr", makePicture(40, 30, 1), OIIO::TypeDesc::FLOAT, 4));
  ASSERT_TRUE(writeFile(dir / "ref.exr", makePicture(24, 36, 5), OIIO::TypeDesc::FLOAT, 4));
  ASSERT_TRUE(writeFile(dir / "src-full.png", halfMatte(40, 30), OIIO::TypeDesc::UINT8, 1));
  ASSERT_TRUE(writeFile(dir / "src-half.png", halfMatte(20, 15), OIIO::TypeDesc::UINT8, 1));
  ASSERT_TRUE(writeFile(dir / "ref-full.png", halfMatte(24, 36), OIIO::TypeDesc::UINT8, 1));
  ASSERT_TRUE(writeFile(dir / "ref-half.png", halfMatte(12, 18), OIIO::TypeDesc::UINT8, 1));
  auto run = [&](const std::string &size, const std::string &out) {
    const RunResult r = runTool({"match", dir / "src.exr", dir / "ref.exr", "-o", dir / out, "--source-mask",
                                 dir / ("src-" + size + ".png"), "--reference-mask", dir / ("ref-" + size + ".png")});
    EXPECT_EQ(r.status, 0) << r.err;
  };
  run("full", "full.exr");
  run("half", "half.exr");
  expectSamePixels(readFile(dir / "half.exr"), readFile(dir / "full.exr"), "masks at half size");
  ASSERT_EQ(runTool({"match", dir / "src.exr", dir / "ref.exr", "-o", dir / "none.exr"}).status, 0);
  EXPECT_NE(readFile(dir / "none.exr").rgba, readFile(dir / "full.exr").rgba) << "the masks made no difference";
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
