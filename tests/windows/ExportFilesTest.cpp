// The export writers on Windows: text-mode files with CR LF line ends, native
// backslash paths, and replacing an existing file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/CdlValues.h"
#include "lut/MatchLut.h"
#include "windows/WindowsSupport.h"

using namespace wintest;

namespace {

TEST(WindowsLineEnds, CubeOf65PointsHasCrLfEverywhereAndTheDocumentedDataSize) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  MatchLut lut;
  fillIdentity(lut, 65);
  ASSERT_TRUE(lut.valid);
  const std::string path = folder.file("look.cube");
  ASSERT_TRUE(lut.writeCube(path.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));

  const std::string text = readFile(path);
  const LineEnds ends = countLineEnds(text);
  EXPECT_EQ(ends.bareLf, 0u);
  EXPECT_EQ(ends.bareCr, 0u);
  EXPECT_EQ(ends.crlf, 8u + 1u + 274625u);

  // Header lines, one empty line, then the data part.
  const size_t blank = text.find("\r\n\r\n");
  ASSERT_NE(blank, std::string::npos);
  EXPECT_EQ(text.size() - (blank + 4), 7689500u);
  EXPECT_EQ(text.compare(text.size() - 28, 28, "0.950000 1.000000 0.800000\r\n"), 0);
}

TEST(WindowsLineEnds, CdlHasThirteenCrLfLines) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  CdlValues values = {{1.1f, 1.0f, 0.9f}, {0.01f, 0.0f, -0.02f}, {1.0f, 1.0f, 1.0f}, 0.95f};
  const std::string path = folder.file("look.cdl");
  ASSERT_TRUE(writeCdl(path.c_str(), values));

  const std::string text = readFile(path);
  const LineEnds ends = countLineEnds(text);
  EXPECT_EQ(ends.crlf, 13u);
  EXPECT_EQ(ends.bareLf, 0u);
  EXPECT_EQ(ends.bareCr, 0u);
  EXPECT_NE(text.find("urn:ASC:CDL:v1.01"), std::string::npos);
  EXPECT_EQ(text.compare(text.size() - 2, 2, "\r\n"), 0);
}

TEST(WindowsPaths, WritesThroughBackslashAndMixedSeparators) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  ASSERT_TRUE(CreateDirectoryA(folder.file("sub dir").c_str(), nullptr));
  MatchLut lut;
  fillIdentity(lut, 5);

  const std::string backslashed = folder.path + "\\sub dir\\look.cube";
  ASSERT_TRUE(lut.writeCube(backslashed.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_TRUE(fileExists(backslashed));

  const std::string mixed = folder.path + "/sub dir/other.cdl";
  CdlValues values = {{1, 1, 1}, {0, 0, 0}, {1, 1, 1}, 1};
  ASSERT_TRUE(writeCdl(mixed.c_str(), values));

  // The temporary files beside the targets are gone.
  EXPECT_EQ(namesIn(folder.file("sub dir")), (std::vector<std::string>{"look.cube", "other.cdl"}));
}

TEST(WindowsPaths, ReplacesAnExistingFileAndRefusesAMissingFolder) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  MatchLut lut;
  fillIdentity(lut, 3);
  const std::string path = folder.file("look.cube");
  ASSERT_TRUE(lut.writeCube(path.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  const std::string first = readFile(path);
  ASSERT_TRUE(lut.writeCube(path.c_str(), 0.0f, 1.0f, 1.0f, 1.0f));
  const std::string second = readFile(path);
  EXPECT_NE(first, second) << "the second export replaced the file";
  EXPECT_EQ(countLineEnds(second).bareLf, 0u);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"look.cube"});

  const std::string missing = folder.path + "\\no such folder\\look.cube";
  EXPECT_FALSE(lut.writeCube(missing.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_FALSE(writeCdl((folder.path + "\\no such folder\\look.cdl").c_str(), CdlValues{{1, 1, 1}, {0, 0, 0}, {1, 1, 1}, 1}));
  EXPECT_EQ(folder.names(), std::vector<std::string>{"look.cube"});
}

}  // namespace
