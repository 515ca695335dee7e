// The export buttons pressed on a real instance of the built module, through
// the headless host: statuses, messages, the re-entrant path write-back, the
// debug lines, and a rendered picture matched by OpenColorIO reading the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include "ExportTestSupport.h"
#include "host/Host.h"
#include "host/StderrCapture.h"
#include "plugin/Names.h"

#if defined(TINTBRIDGE_HAVE_OCIO)
#include <OpenColorIO/OpenColorIO.h>
namespace OCIO = OCIO_NAMESPACE;
#endif

using namespace exporttest;

namespace {

const int kWidth = 48, kHeight = 32;
const char kNoLut[] = "No LUT available. Connect Source and Reference clips and view the result first.";

std::shared_ptr<tbhost::Image> picture(int seed, float scale, float lift) {
  auto image = tbhost::Image::rgbaFloat(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        const float wave = 0.5f + 0.3f * std::sin(0.21f * static_cast<float>(x + 5 * c + seed) +
                                                  0.11f * static_cast<float>(y * (c + 1)));
        image->set(x, y, c, lift + scale * wave);
      }
      image->set(x, y, 3, 1.0f);
    }
  }
  return image;
}

struct Session {
  tbhost::Host host{TINTBRIDGE_BUNDLE_BINARY};
  tbhost::Instance inst;
  explicit Session(bool withMessages = true) {
    if (!withMessages) host.withholdSuite(kOfxMessageSuite);
    EXPECT_EQ(host.load(), kOfxStatOK) << host.lastError();
    inst = host.createInstance(kOfxImageEffectContextGeneral);
    inst.setImage(kClipSource, picture(0, 1.0f, 0.0f));
    inst.setImage(kClipReference, picture(7, 0.8f, 0.12f));
  }
  OfxStatus press(const char *button) { return inst.instanceChanged(button); }
  tbhost::Message lastMessage() {
    const auto all = host.messages();
    return all.empty() ? tbhost::Message() : all.back();
  }
};

class EnvironmentVariable {
 public:
  EnvironmentVariable(const char *name, const std::string &value) : name_(name) {
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvironmentVariable() {
    if (had_) {
      setenv(name_, saved_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char *name_;
  std::string saved_;
  bool had_ = false;
};

}  // namespace

TEST(ModuleExport, ButtonsBeforeAndAfterARender) {
  TempDir dir;
  Session s;
  s.inst.setParam(kParamExportPath, dir.file("look"));

  // No LUT before the first render: refused, with kOfxStatOK.
  EXPECT_EQ(s.press("exportButton"), kOfxStatOK);
  EXPECT_EQ(s.lastMessage().type, "OfxMessageError");
  EXPECT_EQ(s.lastMessage().text, kNoLut);
  EXPECT_EQ(s.press("exportCDLButton"), kOfxStatOK);
  EXPECT_EQ(s.lastMessage().text, kNoLut);
  EXPECT_TRUE(dir.names().empty());

  ASSERT_EQ(s.inst.render(0.0, OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
  s.host.clearChanges();
  EXPECT_EQ(s.press("exportButton"), kOfxStatReplyDefault);
  const std::string cube = dir.file("look.cube");
  EXPECT_EQ(s.lastMessage().type, "OfxMessageMessage");
  EXPECT_EQ(s.lastMessage().text, "LUT saved to:\n" + cube);
  EXPECT_TRUE(s.lastMessage().idWasNull);
  EXPECT_EQ(s.inst.paramString(kParamExportPath), cube);
  // The write-back reached the plug-in again from inside paramSetValue.
  bool reentered = false;
  for (const auto &change : s.host.changes()) reentered = reentered || (change.name == "exportPath" && change.depth > 0);
  EXPECT_TRUE(reentered);

  EXPECT_EQ(s.press("exportCDLButton"), kOfxStatReplyDefault);
  EXPECT_EQ(s.lastMessage().text, "CDL saved to:\n" + dir.file("look.cdl"));
  EXPECT_EQ(s.inst.paramString(kParamExportPath), cube);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"look.cdl", "look.cube"}));
  EXPECT_EQ(splitLines(readFile(cube)).size(), 9u + 274625u);
  EXPECT_EQ(splitLines(readFile(dir.file("look.cdl"))).size(), 13u);

  // Refresh drops the LUT: exports refuse again until the next render.
  EXPECT_EQ(s.press("rebuildButton"), kOfxStatReplyDefault);
  EXPECT_EQ(s.press("exportButton"), kOfxStatOK);
  EXPECT_EQ(s.lastMessage().text, kNoLut);
}


TEST(ModuleExport, WithoutMessageSuiteOnlyTheDebugChannelReports) {
  TempDir dir;
  Session s(false);
  ASSERT_EQ(s.inst.render(0.0, OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
  EnvironmentVariable documents("XDG_DOCUMENTS_DIR", dir.str());
  s.inst.setParam(kParamExportPath, "");
  tbhost::StderrCapture capture;
  EXPECT_EQ(s.press("exportButton"), kOfxStatReplyDefault);
  EXPECT_EQ(s.press("exportCDLButton"), kOfxStatReplyDefault);
  s.inst.setParam(kParamExportPath, dir.file("no/such/folder/"));
  EXPECT_EQ(s.press("exportButton"), kOfxStatReplyDefault);
  EXPECT_TRUE(s.host.messages().empty());
  EXPECT_TRUE(capture.active());
  {
    const auto lines = capture.linesStartingWith("Tintbridge: ");
    auto has = [&lines](const std::string &line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Tintbridge: Export successful\n"));
    EXPECT_TRUE(has("Tintbridge: CDL Export successful\n"));
    EXPECT_TRUE(has("Tintbridge: Export FAILED\n"));
    EXPECT_TRUE(has("Tintbridge: Exporting cached LUT with Mix=1.000, R=1.000, G=1.000, B=1.000\n"));
  }
  // The empty path went to the documents folder; the CDL followed the stored name.
  const auto names = dir.names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_TRUE(std::regex_match(names[0], std::regex("Tintbridge_\\d{8}_\\d{6}\\.cdl")));
  EXPECT_EQ(names[1], names[0].substr(0, names[0].size() - 4) + ".cube");
}

#if defined(TINTBRIDGE_HAVE_OCIO)
TEST(ModuleExport, OpenColorIOReproducesTheRenderFromTheExportedCube) {
  TempDir dir;
  Session s;
  s.inst.setParam(kParamStrength, 0.7);
  s.inst.setParam(kParamStrengthG, 0.5);
  s.inst.setParam(kParamStrengthB, 0.25);
  ASSERT_EQ(s.inst.render(0.0, OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
  s.inst.setParam(kParamExportPath, dir.file("render.cube"));
  ASSERT_EQ(s.press("exportButton"), kOfxStatReplyDefault);

  OCIO::FileTransformRcPtr transform = OCIO::FileTransform::Create();
  transform->setSrc(dir.file("render.cube").c_str());
  transform->setInterpolation(OCIO::INTERP_LINEAR);
  OCIO::ConstCPUProcessorRcPtr cpu = OCIO::Config::CreateRaw()->getProcessor(transform)->getOptimizedCPUProcessor(
      OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32, OCIO::OPTIMIZATION_NONE);
  const auto source = s.inst.image(kClipSource, 0.0);
  const auto output = s.inst.image(kClipOutput, 0.0);
  ASSERT_TRUE(source && output);
  float worst = 0.0f;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      float rgb[3] = {source->get(x, y, 0), source->get(x, y, 1), source->get(x, y, 2)};
      cpu->applyRGB(rgb);
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(rgb[c] - output->get(x, y, c)));
    }
  }
  EXPECT_LE(worst, 1e-5f);
}
#endif
