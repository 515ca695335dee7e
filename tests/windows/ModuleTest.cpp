// The built Windows module, loaded with LoadLibrary by our host: debug lines
// through OutputDebugStringA, and exports into the documents folder and into
// backslash folders.
#include <gtest/gtest.h>

#include <string>

#include "host/Host.h"
#include "plugin/DebugLog.h"
#include "windows/WindowsSupport.h"
#include "plugin/Names.h"

using namespace wintest;

namespace {

const OfxRectI kWindow{0, 0, 16, 8};

// A loaded module with one instance whose clips have two different pictures.
struct Loaded {
  tbhost::Host host{TINTBRIDGE_BUNDLE_BINARY};
  tbhost::Instance inst;
  Loaded() {
    if (host.load() != kOfxStatOK) return;
    inst = host.createInstance(kOfxImageEffectContextGeneral);
    auto source = tbhost::Image::rgbaFloat(16, 8);
    auto reference = tbhost::Image::rgbaFloat(16, 8);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 16; ++x) {
        source->set(x, y, 0, x / 16.0f);
        source->set(x, y, 1, y / 8.0f);
        source->set(x, y, 2, 0.5f);
        source->set(x, y, 3, 1.0f);
        reference->set(x, y, 0, 0.2f + x / 40.0f);
        reference->set(x, y, 1, 0.1f + y / 12.0f);
        reference->set(x, y, 2, 0.6f);
        reference->set(x, y, 3, 1.0f);
      }
    }
    inst.setImage(kClipSource, source);
    inst.setImage(kClipReference, reference);
  }
};

bool startsWith(const std::string &text, const std::string &prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool endsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(WindowsDebugOutput, LinesReachOutputDebugStringA) {
  setDebugLogSink(nullptr);
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.active());
  debugLog("Tintbridge: from the core library\n");
  EXPECT_TRUE(capture.contains("Tintbridge: from the core library\n"));

  // The module has its own copy of the code and no sink installed.
  Loaded l;
  ASSERT_TRUE(l.inst.valid()) << l.host.lastError();
  EXPECT_TRUE(capture.contains("Tintbridge: CREATE INSTANCE\n"));
  EXPECT_EQ(l.inst.instanceChanged(kParamExportButton), kOfxStatOK) << "refused: no LUT yet";
  EXPECT_TRUE(capture.contains("Tintbridge: Export failed - no valid LUT (render the image first)\n"));
  EXPECT_EQ(l.inst.instanceChanged(kParamRebuildButton), kOfxStatReplyDefault);
  EXPECT_TRUE(capture.contains("Tintbridge: LUT invalidated - will rebuild on next render\n"));
  for (const std::string &line : capture.strings()) {
    EXPECT_TRUE(startsWith(line, "Tintbridge: ")) << line;
    EXPECT_TRUE(endsWith(line, "\n")) << line;
  }
}

TEST(WindowsModuleExport, EmptyPathExportsIntoTheDocumentsFolder) {
  const std::string documents = documentsFolder();
  ASSERT_FALSE(documents.empty());
  Loaded l;
  ASSERT_TRUE(l.inst.valid()) << l.host.lastError();
  ASSERT_EQ(l.inst.render(0.0, kWindow), kOfxStatOK);
  l.inst.setParam(kParamExportPath, "");
  ASSERT_EQ(l.inst.instanceChanged(kParamExportButton), kOfxStatReplyDefault);

  const std::string cube = l.inst.paramString(kParamExportPath);
  const std::string cdl = cube.substr(0, cube.size() - 5) + ".cdl";
  struct Cleanup {
    std::string a, b;
    ~Cleanup() {
      DeleteFileA(a.c_str());
      DeleteFileA(b.c_str());
    }
  } cleanup{cube, cdl};
  EXPECT_TRUE(startsWith(cube, documents + "\\Tintbridge_")) << cube;
  EXPECT_EQ(cube.size(), documents.size() + std::string("\\Tintbridge_20260107_093005.cube").size()) << cube;
  EXPECT_TRUE(endsWith(cube, ".cube")) << cube;
  const std::string text = readFile(cube);
  EXPECT_EQ(countLineEnds(text).bareLf, 0u);
  EXPECT_EQ(countLineEnds(text).crlf, 8u + 1u + 65u * 65u * 65u);

  // The CDL export starts from the path the cube export left behind.
  ASSERT_EQ(l.inst.instanceChanged(kParamExportCdlButton), kOfxStatReplyDefault);
  EXPECT_TRUE(fileExists(cdl)) << cdl;
  EXPECT_EQ(countLineEnds(readFile(cdl)).crlf, 13u);
  ASSERT_FALSE(l.host.messages().empty());
  EXPECT_EQ(l.host.messages().back().text, "CDL saved to:\n" + cdl);
}

TEST(WindowsModuleExport, FolderPathEndingInABackslash) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  Loaded l;
  ASSERT_TRUE(l.inst.valid()) << l.host.lastError();
  ASSERT_EQ(l.inst.render(0.0, kWindow), kOfxStatOK);
  l.inst.setParam(kParamExportPath, folder.path + "\\");
  ASSERT_EQ(l.inst.instanceChanged(kParamExportButton), kOfxStatReplyDefault);

  const std::string cube = l.inst.paramString(kParamExportPath);
  EXPECT_TRUE(startsWith(cube, folder.path + "\\Tintbridge_")) << cube;
  EXPECT_TRUE(fileExists(cube)) << cube;
  ASSERT_FALSE(l.host.messages().empty());
  EXPECT_EQ(l.host.messages().back().type, "OfxMessageMessage");
  EXPECT_EQ(l.host.messages().back().text, "LUT saved to:\n" + cube);
  EXPECT_EQ(folder.names().size(), 1u);
}

}  // namespace
