// Instance changes through the built module: which names and types mark the
// LUT stale, the debug lines, and the statuses.
#include <gtest/gtest.h>

// These read the module's debug lines from the standard error stream, which
// the Windows module does not write to.
#ifndef _WIN32

#include <string>
#include <vector>

#include "host/StderrCapture.h"
#include "support/RenderSupport.h"
#include "plugin/Names.h"

using namespace rendertest;

namespace {

constexpr int W = 32;
constexpr int H = 24;

// An instance whose LUT has been built by one render.
struct Built : Loaded {
  Built() {
    inst.setImage(kClipSource, picture(W, H, 2));
    inst.setImage(kClipReference, picture(W, H, 30));
    inst.render(0.0, OfxRectI{0, 0, W, H});
  }
  bool valid() const { return publishedGrid(inst) != nullptr && publishedGrid(inst)->valid; }
};

std::vector<std::string> tintbridgeLines(const tbhost::StderrCapture &capture) {
  return capture.linesStartingWith("Tintbridge: ");
}

TEST(InstanceChanged, InvalidatingChangesWriteTheirLine) {
  struct Case {
    const char *name;
    const char *type;
    const char *line;
  };
  const Case cases[] = {
      {"rebuildButton", kOfxTypeParameter, "Tintbridge: LUT invalidated - will rebuild on next render\n"},
      {"matchMode", kOfxTypeParameter, "Tintbridge: Parameter changed - LUT invalidated\n"},
      {"preserveMode", kOfxTypeParameter, "Tintbridge: Parameter changed - LUT invalidated\n"},
      {"Source", kOfxTypeClip, "Tintbridge: Input clip changed - LUT invalidated\n"},
      {"Output", kOfxTypeClip, "Tintbridge: Input clip changed - LUT invalidated\n"},
      {"ReferenceMask", kOfxTypeClip, "Tintbridge: Input clip changed - LUT invalidated\n"},
  };
  for (const Case &c : cases) {
    Built b;
    ASSERT_TRUE(b.valid());
    tbhost::StderrCapture capture;
    EXPECT_EQ(b.inst.instanceChanged(c.name, c.type), kOfxStatReplyDefault) << c.name;
    EXPECT_FALSE(b.valid()) << c.name;
    EXPECT_EQ(tintbridgeLines(capture), std::vector<std::string>{c.line}) << c.name;
  }
}

TEST(InstanceChanged, StrengthsPathAndUnknownNamesLeaveTheLutAlone) {
  for (const char *name : {"strength", "strengthR", "strengthG", "strengthB", "exportPath", "RebuildButton",
                           "MATCHMODE", "exportbutton", "somethingElse"}) {
    Built b;
    tbhost::StderrCapture capture;
    EXPECT_EQ(b.inst.instanceChanged(name, kOfxTypeParameter), kOfxStatReplyDefault) << name;
    EXPECT_TRUE(b.valid()) << name;
    EXPECT_TRUE(tintbridgeLines(capture).empty()) << name;
  }
}

TEST(InstanceChanged, WithoutANameOnlyTheClipTestRuns) {
  Built b;
  tbhost::PropertySet in;
  in.defineString(kOfxPropType, {kOfxTypeClip});
  EXPECT_EQ(b.inst.callAction(kOfxActionInstanceChanged, &in, nullptr), kOfxStatReplyDefault);
  EXPECT_FALSE(b.valid());

  Built quiet;
  tbhost::PropertySet none;
  EXPECT_EQ(quiet.inst.callAction(kOfxActionInstanceChanged, &none, nullptr), kOfxStatReplyDefault);
  EXPECT_TRUE(quiet.valid());
}

TEST(InstanceChanged, ExportAfterRefreshIsRefusedWithStatusOk) {
  Built b;
  EXPECT_EQ(b.inst.instanceChanged(kParamRebuildButton), kOfxStatReplyDefault);
  tbhost::StderrCapture capture;
  EXPECT_EQ(b.inst.instanceChanged(kParamExportButton), kOfxStatOK);
  EXPECT_EQ(b.inst.instanceChanged(kParamExportCdlButton), kOfxStatOK);
  const auto lines = tintbridgeLines(capture);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Tintbridge: Export failed - no valid LUT (render the image first)\n");
  EXPECT_EQ(lines[1], "Tintbridge: CDL Export failed - no valid LUT (render the image first)\n");
  const auto messages = b.host.messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto &m : messages) {
    EXPECT_EQ(m.type, kOfxMessageError);
    EXPECT_EQ(m.text, "No LUT available. Connect Source and Reference clips and view the result first.");
  }
}

TEST(InstanceChanged, NoRecordIsABadHandleAndReadsNothing) {
  Built b;
  void *record = b.inst.instanceData();
  b.inst.properties()->definePointer(kOfxPropInstanceData, {nullptr});
  tbhost::PropertySet in;
  in.defineString(kOfxPropName, {"rebuildButton"});
  in.defineString(kOfxPropType, {kOfxTypeParameter});
  in.failCalls("", kOfxStatErrUnknown);  // any read of the arguments would be seen as a fault
  EXPECT_EQ(b.inst.callAction(kOfxActionInstanceChanged, &in, nullptr), kOfxStatErrBadHandle);
  EXPECT_TRUE(in.writes().empty());
  b.inst.properties()->definePointer(kOfxPropInstanceData, {record});  // so that destroy frees it
}

}  // namespace

#endif
