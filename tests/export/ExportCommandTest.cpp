// The export commands against fake host suites: the refusal, the messages and
// debug lines, the path write-back and re-entrant host calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ExportTestSupport.h"
#include "FakeHost.h"
#include "plugin/ExportCommands.h"
#include "plugin/LutCache.h"
#include "export/ExportPaths.h"

using namespace exporttest;

namespace {

std::tm gStamp;

bool testClock(std::tm &out) {
  out = gStamp;
  return true;
}

void setStamp(int hour, int minute, int second) {
  std::memset(&gStamp, 0, sizeof gStamp);
  gStamp.tm_year = 2026 - 1900;
  gStamp.tm_mon = 0;
  gStamp.tm_mday = 7;
  gStamp.tm_hour = hour;
  gStamp.tm_min = minute;
  gStamp.tm_sec = second;
}

const char kNoLut[] = "No LUT available. Connect Source and Reference clips and view the result first.";

class ExportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *value = std::getenv("XDG_DOCUMENTS_DIR");
    hadDocuments = value != nullptr;
    if (value != nullptr) savedDocuments = value;
    setenv("XDG_DOCUMENTS_DIR", documents.str().c_str(), 1);
    setStamp(9, 30, 5);
    setExportClock(testClock);
  }
  void TearDown() override {
    if (hadDocuments) {
      setenv("XDG_DOCUMENTS_DIR", savedDocuments.c_str(), 1);
    } else {
      unsetenv("XDG_DOCUMENTS_DIR");
    }
    setExportClock(nullptr);
  }

  static void fillUsable(FakeHost &host) { fillGrade(*host.instance.lut, 9); }

  TempDir documents;
  TempDir dir;
  bool hadDocuments = false;
  std::string savedDocuments;
};

}  // namespace

TEST_F(ExportCommand, RefusesWithoutAUsableLut) {
  for (bool withMessages : {true, false}) {
    for (int state = 0; state < 3; ++state) {
      FakeHost host(withMessages);
      host.exportPath.text = dir.file("look");
      if (state == 1) {
        fillUsable(host);
        host.instance.lut->valid = false;  // built once, then invalidated
      } else if (state == 2) {
        host.instance.lut.reset();
      }
      EXPECT_FALSE(exportCube(host.instance, host.effect()));
      EXPECT_FALSE(exportCdl(host.instance, host.effect()));
      ASSERT_EQ(host.logLines.size(), 2u);
      EXPECT_EQ(host.logLines[0], "Tintbridge: Export failed - no valid LUT (render the image first)\n");
      EXPECT_EQ(host.logLines[1], "Tintbridge: CDL Export failed - no valid LUT (render the image first)\n");
      if (withMessages) {
        ASSERT_EQ(host.messages.size(), 2u);
        for (const FakeMessage &m : host.messages) {
          EXPECT_EQ(m.type, "OfxMessageError");
          EXPECT_EQ(m.text, kNoLut);
          EXPECT_EQ(m.format, "%s");
          EXPECT_TRUE(m.idIsNull);
          EXPECT_EQ(m.handle, static_cast<void *>(host.effect()));
        }
      } else {
        EXPECT_TRUE(host.messages.empty());
      }
      EXPECT_EQ(host.doubleReads() + host.exportPath.reads, 0);
    }
  }
  EXPECT_TRUE(dir.names().empty());
  EXPECT_TRUE(documents.names().empty());
}

TEST_F(ExportCommand, CubeExportWritesReportsAndStoresThePath) {
  FakeHost host;
  fillUsable(host);
  host.strength.value = 0.5;
  host.strengthG.value = 0.25;
  host.strengthB.value = 0.0;
  host.exportPath.text = dir.file("look");
  EXPECT_TRUE(exportCube(host.instance, host.effect()));

  const std::string path = dir.file("look.cube");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"look.cube"});
  const auto lines = splitLines(readFile(path));
  ASSERT_EQ(lines.size(), 9u + 729u);
  EXPECT_EQ(lines[1], "# Baked strength: Mix=0.5000, R=1.0000, G=0.2500, B=0.0000");
  EXPECT_EQ(host.exportPath.text, path);
  EXPECT_EQ(host.exportPath.writes, 1);
  ASSERT_EQ(host.logLines.size(), 2u);
  EXPECT_EQ(host.logLines[0], "Tintbridge: Exporting cached LUT with Mix=0.500, R=1.000, G=0.250, B=0.000\n");
  EXPECT_EQ(host.logLines[1], "Tintbridge: Export successful\n");
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].type, "OfxMessageMessage");
  EXPECT_EQ(host.messages[0].format, "%s");
  EXPECT_TRUE(host.messages[0].idIsNull);
  EXPECT_EQ(host.messages[0].text, "LUT saved to:\n" + path);
}

TEST_F(ExportCommand, CdlIgnoresTheStrengthsAndLeavesThePath) {
  std::string files[2];
  for (int i = 0; i < 2; ++i) {
    FakeHost host;
    fillUsable(host);
    const double s = i == 0 ? 1.0 : 0.5;
    host.strength.value = host.strengthR.value = host.strengthG.value = host.strengthB.value = s;
    host.exportPath.text = dir.file(i == 0 ? "a.cube" : "b");
    EXPECT_TRUE(exportCdl(host.instance, host.effect()));
    const std::string path = dir.file(i == 0 ? "a.cdl" : "b.cdl");
    files[i] = readFile(path);
    EXPECT_EQ(host.doubleReads(), 0);
    EXPECT_EQ(host.exportPath.writes, 0);
    EXPECT_EQ(host.logLines, std::vector<std::string>{"Tintbridge: CDL Export successful\n"});
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].type, "OfxMessageMessage");
    EXPECT_EQ(host.messages[0].text, "CDL saved to:\n" + path);
  }
  EXPECT_FALSE(files[0].empty());
  EXPECT_EQ(files[0], files[1]);
}

TEST_F(ExportCommand, PercentInThePathIsShownLiterally) {
  const std::string folder = dir.file("100%s_%d");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  FakeHost host;
  fillUsable(host);
  host.exportPath.text = folder + "/";
  EXPECT_TRUE(exportCube(host.instance, host.effect()));
  const std::string path = folder + "/Tintbridge_20260107_093005.cube";
  EXPECT_TRUE(fileExists(path));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "LUT saved to:\n" + path);
  EXPECT_EQ(host.exportPath.text, path);
}

TEST_F(ExportCommand, EmptyPathGoesToDocumentsAndLaterExportsReuseTheName) {
  FakeHost host;
  fillUsable(host);
  host.exportPath.textIsNull = true;
  EXPECT_TRUE(exportCube(host.instance, host.effect()));
  const std::string cube = documents.file("Tintbridge_20260107_093005.cube");
  EXPECT_EQ(host.exportPath.text, cube);
  EXPECT_TRUE(fileExists(cube));

  // Later exports start from the stored name, whatever the clock says.
  setStamp(10, 0, 0);
  host.strength.value = 0.0;
  EXPECT_TRUE(exportCube(host.instance, host.effect()));
  EXPECT_TRUE(exportCdl(host.instance, host.effect()));
  EXPECT_EQ(documents.names(),
            (std::vector<std::string>{"Tintbridge_20260107_093005.cdl", "Tintbridge_20260107_093005.cube"}));
  EXPECT_EQ(splitLines(readFile(cube))[1], "# Baked strength: Mix=0.0000, R=1.0000, G=1.0000, B=1.0000");

  // An empty string and a CDL export: the default name with .cdl.
  setStamp(11, 1, 2);
  host.exportPath.text = "";
  EXPECT_TRUE(exportCdl(host.instance, host.effect()));
  EXPECT_TRUE(fileExists(documents.file("Tintbridge_20260107_110102.cdl")));
  EXPECT_EQ(host.exportPath.text, "");
}

TEST_F(ExportCommand, FailuresAreReportedAndLeaveThePathAlone) {
  const std::string longPath = dir.str() + "/" + std::string(1100, 'l') + ".cube";
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("folder.cube")));
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("folder.cdl")));
  writeFile(dir.file("plain"), "x");
  const std::string cases[] = {
      dir.file("missing/look"),  // no such folder
      dir.file("plain/look"),    // a file where a folder should be
      dir.file("folder.cube"),   // a folder is never replaced
      longPath,                  // too long to keep whole
  };
  for (const std::string &target : cases) {
    for (bool withMessages : {true, false}) {
      FakeHost host(withMessages);
      fillUsable(host);
      host.exportPath.text = target;
      EXPECT_TRUE(exportCube(host.instance, host.effect()));
      EXPECT_TRUE(exportCdl(host.instance, host.effect()));
      EXPECT_EQ(host.exportPath.text, target);
      EXPECT_EQ(host.exportPath.writes, 0);
      ASSERT_EQ(host.logLines.size(), 3u);
      EXPECT_EQ(host.logLines[1], "Tintbridge: Export FAILED\n");
      EXPECT_EQ(host.logLines[2], "Tintbridge: CDL Export FAILED\n");
      if (withMessages) {
        ASSERT_EQ(host.messages.size(), 2u);
        EXPECT_EQ(host.messages[0].type, "OfxMessageError");
        EXPECT_EQ(host.messages[0].text, "Failed to save .cube file");
        EXPECT_EQ(host.messages[1].type, "OfxMessageError");
        EXPECT_EQ(host.messages[1].text, "Failed to save .cdl file");
      } else {
        EXPECT_TRUE(host.messages.empty());
      }
    }
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder.cdl", "folder.cube", "plain"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder.cube")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder.cdl")));
  EXPECT_EQ(readFile(dir.file("plain")), "x");
}

TEST_F(ExportCommand, HostMayReenterDuringThePathWriteBack) {
  FakeHost host;
  fillUsable(host);
  host.exportPath.text = dir.file("nested.cube");
  int reentered = 0;
  // A host answers the write-back with another instance-changed call; here
  // that call runs a CDL export and reads the LUT again.
  host.onExportPathSet = [&host, &reentered]() {
    ++reentered;
    EXPECT_NE(usableLut(host.instance), nullptr);
    EXPECT_TRUE(exportCdl(host.instance, host.effect()));
  };
  EXPECT_TRUE(exportCube(host.instance, host.effect()));
  EXPECT_EQ(reentered, 1);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"nested.cdl", "nested.cube"}));
  ASSERT_EQ(host.messages.size(), 2u);
  EXPECT_EQ(host.messages[0].text, "CDL saved to:\n" + dir.file("nested.cdl"));
  EXPECT_EQ(host.messages[1].text, "LUT saved to:\n" + dir.file("nested.cube"));
}

