// Export path rules with Windows paths, and the default folder from
// SHGetFolderPathA.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/ExportCommands.h"
#include "export/ExportPaths.h"
#include "windows/WindowsSupport.h"

using namespace wintest;

namespace {

bool fixedClock(std::tm &out) {
  out = fixedStamp();
  return true;
}

std::string resolved(const char *userPath, ExportKind kind) {
  char buffer[kExportPathCapacity];
  if (!resolveExportPath(userPath, kind, fixedStamp(), buffer)) return "<refused>";
  return buffer;
}

TEST(WindowsDefaultPath, IsTheDocumentsFolderJoinedWithOneBackslash) {
  const std::string documents = documentsFolder();
  ASSERT_FALSE(documents.empty()) << "SHGetFolderPathA(CSIDL_PERSONAL) failed";
  const std::string expected = documents + "\\Tintbridge_20260107_093005.cube";

  char buffer[kExportPathCapacity];
  ASSERT_TRUE(formatDefaultExportPath(buffer, sizeof buffer, fixedStamp()));
  EXPECT_EQ(std::string(buffer), expected);

  setExportClock(fixedClock);
  char viaCommand[1024];
  defaultExportPath(viaCommand, sizeof viaCommand);
  EXPECT_EQ(std::string(viaCommand), expected);
  EXPECT_EQ(resolved("", ExportKind::Cdl), documents + "\\Tintbridge_20260107_093005.cdl");
  EXPECT_EQ(resolved(nullptr, ExportKind::Cube), expected);

  // Cut to the caller's buffer, always terminated.
  char small[8];
  std::memset(small, 'x', sizeof small);
  defaultExportPath(small, sizeof small);
  EXPECT_EQ(std::string(small), expected.substr(0, 7));
  setExportClock(nullptr);
}

TEST(WindowsPathRules, FoldersAndExtensionsWithBackslashes) {
  EXPECT_EQ(resolved("C:\\looks\\", ExportKind::Cube), "C:\\looks\\Tintbridge_20260107_093005.cube");
  EXPECT_EQ(resolved("C:\\looks\\", ExportKind::Cdl), "C:\\looks\\Tintbridge_20260107_093005.cdl");
  EXPECT_EQ(resolved("C:/looks/", ExportKind::Cube), "C:/looks/Tintbridge_20260107_093005.cube");
  EXPECT_EQ(resolved("\\\\server\\share\\", ExportKind::Cube), "\\\\server\\share\\Tintbridge_20260107_093005.cube");
  EXPECT_EQ(resolved("C:\\looks\\look.cube", ExportKind::Cdl), "C:\\looks\\look.cdl");
  EXPECT_EQ(resolved("C:\\looks\\look.cdl", ExportKind::Cube), "C:\\looks\\look.cdl.cube");
  EXPECT_EQ(resolved("C:\\looks\\look.CUBE", ExportKind::Cube), "C:\\looks\\look.CUBE.cube");
  EXPECT_EQ(resolved("C:\\looks.d\\look", ExportKind::Cdl), "C:\\looks.d\\look.cdl");
}

}  // namespace
