// The "exportPath" rules, the time-stamped names and the default folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

#include "ExportTestSupport.h"
#include "plugin/ExportCommands.h"
#include "export/ExportPaths.h"

using namespace exporttest;

namespace {

// 09:30:05 on 7 January 2026.
std::tm fixedStamp() {
  std::tm stamp;
  std::memset(&stamp, 0, sizeof stamp);
  stamp.tm_year = 2026 - 1900;
  stamp.tm_mon = 0;
  stamp.tm_mday = 7;
  stamp.tm_hour = 9;
  stamp.tm_min = 30;
  stamp.tm_sec = 5;
  return stamp;
}

bool fixedClock(std::tm &out) {
  out = fixedStamp();
  return true;
}

bool brokenClock(std::tm &) { return false; }

// Resolves and returns the path, or "<refused>".
std::string resolve(const char *userPath, ExportKind kind) {
  char buffer[kExportPathCapacity];
  std::memset(buffer, 'x', sizeof buffer);
  if (!resolveExportPath(userPath, kind, fixedStamp(), buffer)) return "<refused>";
  return buffer;
}

// Saves and restores the variables that locate the documents folder.
class DocumentsEnvironment : public ::testing::Test {
 protected:
  const char *names[3] = {"XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME", "HOME"};
  std::string saved[3];
  bool had[3] = {false, false, false};

  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const char *value = std::getenv(names[i]);
      had[i] = value != nullptr;
      if (value != nullptr) saved[i] = value;
    }
    // A home without Documents or user-dirs.dirs, so only what a test sets counts.
    setenv("HOME", home.str().c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");
    unsetenv("XDG_CONFIG_HOME");
    setExportClock(fixedClock);
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) {
      if (had[i]) {
        setenv(names[i], saved[i].c_str(), 1);
      } else {
        unsetenv(names[i]);
      }
    }
    setExportClock(nullptr);
  }
  std::string defaultPath() {
    char buffer[kExportPathCapacity];
    defaultExportPath(buffer, sizeof buffer);
    return buffer;
  }

  TempDir home;
  TempDir documents;
};

}  // namespace

TEST(ExportPath, EndingsDecideTheName) {
  struct Row {
    const char *input, *cube, *cdl;
  };
  const Row rows[] = {
      {"/x/", "/x/Tintbridge_20260107_093005.cube", "/x/Tintbridge_20260107_093005.cdl"},
      {"C:\\x\\", "C:\\x\\Tintbridge_20260107_093005.cube", "C:\\x\\Tintbridge_20260107_093005.cdl"},
      {"look.cube", "look.cube", "look.cdl"},
      {"look.cdl", "look.cdl.cube", "look.cdl"},
      {"look", "look.cube", "look.cdl"},
      {"look.txt", "look.txt.cube", "look.txt.cdl"},
      {"look.CUBE", "look.CUBE.cube", "look.CUBE.cdl"},
      {"look.Cdl", "look.Cdl.cube", "look.Cdl.cdl"},
      {".cube", ".cube", ".cdl"},
      {".cdl", ".cdl.cube", ".cdl"},
      {"cube", "cube.cube", "cube.cdl"},
      {"100%s/a%d", "100%s/a%d.cube", "100%s/a%d.cdl"},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(resolve(row.input, ExportKind::Cube), row.cube) << row.input;
    EXPECT_EQ(resolve(row.input, ExportKind::Cdl), row.cdl) << row.input;
  }
}

TEST(ExportPath, LongPathsAreRefusedRatherThanCut) {
  // Exactly 1023 characters fit; the user's path is never shortened.
  const std::string stem(1018, 'a');
  EXPECT_EQ(resolve((stem + ".cube").c_str(), ExportKind::Cube), stem + ".cube");
  EXPECT_EQ(resolve((stem + ".cube").c_str(), ExportKind::Cdl), stem + ".cdl");
  EXPECT_EQ(resolve((stem + "a.cdl").c_str(), ExportKind::Cdl), stem + "a.cdl");
  EXPECT_EQ(resolve(stem.c_str(), ExportKind::Cube), stem + ".cube");

  // An ending that would not fit whole is not cut short.
  const std::string longer(1019, 'a');
  EXPECT_EQ(resolve(longer.c_str(), ExportKind::Cube), "<refused>");
  EXPECT_EQ(resolve(std::string(1020, 'a').c_str(), ExportKind::Cdl), "<refused>");
  EXPECT_EQ(resolve(std::string(1023, 'a').c_str(), ExportKind::Cube), "<refused>");
  EXPECT_EQ(resolve((std::string(1019, 'a') + ".cdl").c_str(), ExportKind::Cube), "<refused>");
  // Beyond 1023 characters even a complete name is refused.
  EXPECT_EQ(resolve((std::string(1019, 'a') + ".cube").c_str(), ExportKind::Cube), "<refused>");
  // A folder that leaves no room for the time-stamped name.
  EXPECT_EQ(resolve((std::string(1000, 'a') + "/").c_str(), ExportKind::Cube), "<refused>");
  const std::string folder = std::string(991, 'a') + "/";  // 992 + 31 = 1023
  EXPECT_EQ(resolve(folder.c_str(), ExportKind::Cube), folder + "Tintbridge_20260107_093005.cube");
}

TEST_F(DocumentsEnvironment, EmptyPathUsesTheDocumentsFolder) {
  setenv("XDG_DOCUMENTS_DIR", documents.str().c_str(), 1);
  const std::string cube = documents.str() + "/Tintbridge_20260107_093005.cube";
  EXPECT_EQ(resolve("", ExportKind::Cube), cube);
  EXPECT_EQ(resolve(nullptr, ExportKind::Cube), cube);
  EXPECT_EQ(resolve("", ExportKind::Cdl), documents.str() + "/Tintbridge_20260107_093005.cdl");
  EXPECT_EQ(defaultPath(), cube);

  // A trailing separator is not doubled.
  setenv("XDG_DOCUMENTS_DIR", (documents.str() + "//").c_str(), 1);
  EXPECT_EQ(defaultPath(), cube);
}

TEST_F(DocumentsEnvironment, FolderSourcesInOrder) {
  const std::string name = "/Tintbridge_20260107_093005.cube";
  // Nothing found: the fixed fallback.
  EXPECT_EQ(defaultPath(), "/tmp" + name);

  // The home folder's Documents.
  ASSERT_TRUE(std::filesystem::create_directory(home.file("Documents")));
  EXPECT_EQ(defaultPath(), home.file("Documents") + name);

  // The desktop's user-dirs.dirs, relative to $HOME, wins over that.
  TempDir config;
  ASSERT_TRUE(std::filesystem::create_directory(home.file("Papers")));
  writeFile(config.file("user-dirs.dirs"),
            "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
            "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
  setenv("XDG_CONFIG_HOME", config.str().c_str(), 1);
  EXPECT_EQ(defaultPath(), home.file("Papers") + name);

  // An absolute entry, and a folder that does not exist is passed over.
  writeFile(config.file("user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"" + documents.str() + "\"\n");
  EXPECT_EQ(defaultPath(), documents.str() + name);
  writeFile(config.file("user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"$HOME/Missing\"\n");
  EXPECT_EQ(defaultPath(), home.file("Documents") + name);

  // Without XDG_CONFIG_HOME the file is read from $HOME/.config.
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(std::filesystem::create_directory(home.file(".config")));
  writeFile(home.file(".config/user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
  EXPECT_EQ(defaultPath(), home.file("Papers") + name);

  // An explicit XDG_DOCUMENTS_DIR comes first; one that is no folder is ignored.
  setenv("XDG_DOCUMENTS_DIR", documents.str().c_str(), 1);
  EXPECT_EQ(defaultPath(), documents.str() + name);
  setenv("XDG_DOCUMENTS_DIR", home.file("nowhere").c_str(), 1);
  EXPECT_EQ(defaultPath(), home.file("Papers") + name);
}

TEST_F(DocumentsEnvironment, DefaultPathIsCutToTheCallersBuffer) {
  setenv("XDG_DOCUMENTS_DIR", documents.str().c_str(), 1);
  char small[12];
  std::memset(small, 'x', sizeof small);
  defaultExportPath(small, sizeof small);
  EXPECT_EQ(std::string(small), (documents.str() + "/").substr(0, 11));
  defaultExportPath(nullptr, 10);
  defaultExportPath(small, 0);
}

TEST_F(DocumentsEnvironment, DefaultPathTooLongForTheBufferIsRefused) {
  // A documents folder so deep that the whole default path cannot fit.
  std::string deep = documents.str();
  while (deep.size() < 940) deep += "/" + std::string(50, 'd');
  deep += "/" + std::string(1000 - deep.size() - 1, 'e');
  ASSERT_EQ(deep.size(), 1000u);
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  setenv("XDG_DOCUMENTS_DIR", deep.c_str(), 1);
  EXPECT_EQ(resolve("", ExportKind::Cube), "<refused>");
  EXPECT_EQ(resolve("", ExportKind::Cdl), "<refused>");
}

TEST_F(DocumentsEnvironment, ClockGivesTheName) {
  setenv("XDG_DOCUMENTS_DIR", documents.str().c_str(), 1);
  setExportClock(brokenClock);
  EXPECT_EQ(defaultPath(), documents.str() + "/Tintbridge_19700101_000000.cube");

  // The system clock: local time of this moment.
  setExportClock(nullptr);
  const std::time_t before = std::time(nullptr);
  const std::string path = defaultPath();
  const std::time_t after = std::time(nullptr);
  std::smatch match;
  const std::regex pattern(".*/Tintbridge_(\\d{4})(\\d{2})(\\d{2})_(\\d{2})(\\d{2})(\\d{2})\\.cube");
  ASSERT_TRUE(std::regex_match(path, match, pattern)) << path;
  std::tm parsed;
  std::memset(&parsed, 0, sizeof parsed);
  parsed.tm_year = std::stoi(match[1]) - 1900;
  parsed.tm_mon = std::stoi(match[2]) - 1;
  parsed.tm_mday = std::stoi(match[3]);
  parsed.tm_hour = std::stoi(match[4]);
  parsed.tm_min = std::stoi(match[5]);
  parsed.tm_sec = std::stoi(match[6]);
  parsed.tm_isdst = -1;
  const std::time_t stamped = std::mktime(&parsed);
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
}
