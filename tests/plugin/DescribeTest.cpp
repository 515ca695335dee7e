// The description the module gives a host, call by call, against the
// plug-in's declared tables.
#include <gtest/gtest.h>

#include "plugin/BoundarySupport.h"

using boundary::dbl;
using boundary::Expected;
using boundary::num;
using boundary::str;
using tbhost::DefinitionKind;
using tbhost::Host;

namespace {

const char *const kSupported = kOfxImageEffectPropSupportedComponents;

std::vector<Expected> clipWrites(const std::string &clip) {
  std::vector<Expected> rgb = {str(kSupported, 0, kOfxImageComponentRGBA), str(kSupported, 1, kOfxImageComponentRGB)};
  std::vector<Expected> mask = {str(kSupported, 0, kOfxImageComponentAlpha), str(kSupported, 1, kOfxImageComponentRGBA),
                                str(kSupported, 2, kOfxImageComponentRGB), num(kOfxImageClipPropOptional, 0, 1),
                                num(kOfxImageClipPropIsMask, 0, 1)};
  if (clip == "Reference") rgb.push_back(num(kOfxImageClipPropOptional, 0, 1));
  if (clip == "SourceMask") mask.push_back(str(kOfxPropLabel, 0, "Source Mask"));
  if (clip == "ReferenceMask") mask.push_back(str(kOfxPropLabel, 0, "Reference Mask"));
  // Every input clip is read at other times too.
  if (clip != "Output") {
    rgb.push_back(num(kOfxImageEffectPropTemporalClipAccess, 0, 1));
    mask.push_back(num(kOfxImageEffectPropTemporalClipAccess, 0, 1));
  }
  return clip == "SourceMask" || clip == "ReferenceMask" ? mask : rgb;
}

std::vector<Expected> strengthWrites(const std::string &label, const std::string &hint) {
  return {str(kOfxPropLabel, 0, label),          str(kOfxParamPropHint, 0, hint),
          dbl(kOfxParamPropDefault, 0, 1.0),      dbl(kOfxParamPropMin, 0, 0.0),
          dbl(kOfxParamPropMax, 0, 1.0),          dbl(kOfxParamPropDisplayMin, 0, 0.0),
          dbl(kOfxParamPropDisplayMax, 0, 1.0),   dbl(kOfxParamPropIncrement, 0, 0.01),
          num(kOfxParamPropDigits, 0, 2)};
}

std::vector<Expected> intWrites(const std::string &label, const std::string &hint, int value, int min, int max) {
  std::vector<Expected> w = {str(kOfxPropLabel, 0, label), str(kOfxParamPropHint, 0, hint),
                             num(kOfxParamPropDefault, 0, value)};
  if (min < max)
    w.insert(w.end(), {num(kOfxParamPropMin, 0, min), num(kOfxParamPropMax, 0, max),
                       num(kOfxParamPropDisplayMin, 0, min), num(kOfxParamPropDisplayMax, 0, max)});
  return w;
}

struct ParamRow {
  std::string name;
  std::string type;
  std::vector<Expected> writes;
};

std::vector<ParamRow> paramTable() {
  std::vector<Expected> strength =
      strengthWrites("Mix", "How much of the color match to apply (0 = original, 1 = fully matched)");
  return {
      {"strength", kOfxParamTypeDouble, strength},
      {"strengthR", kOfxParamTypeDouble, strengthWrites("Red Mix", "Fine-tune the red channel match")},
      {"strengthG", kOfxParamTypeDouble, strengthWrites("Green Mix", "Fine-tune the green channel match")},
      {"strengthB", kOfxParamTypeDouble, strengthWrites("Blue Mix", "Fine-tune the blue channel match")},
      {"matchMode",
       kOfxParamTypeChoice,
       {str(kOfxPropLabel, 0, "Mode"),
        str(kOfxParamPropHint, 0,
            "Different Clips: For matching separate footage. Same Frame: For matching two grades of the same image"),
        str(kOfxParamPropChoiceOption, 0, "Different Clips"), str(kOfxParamPropChoiceOption, 1, "Same Frame"),
        num(kOfxParamPropDefault, 0, 0)}},
      {"preserveMode",
       kOfxParamTypeChoice,
       {str(kOfxPropLabel, 0, "Preserve"),
        str(kOfxParamPropHint, 0, "Keep certain aspects of your original image while matching others"),
        str(kOfxParamPropChoiceOption, 0, "Nothing (Full Match)"),
        str(kOfxParamPropChoiceOption, 1, "Original Brightness"),
        str(kOfxParamPropChoiceOption, 2, "Original Colors"), num(kOfxParamPropDefault, 0, 0)}},
      {"exportPath",
       kOfxParamTypeString,
       {str(kOfxPropLabel, 0, "Save To"),
        str(kOfxParamPropHint, 0, "Where to save the exported LUT file (leave empty for your documents folder)"),
        str(kOfxParamPropDefault, 0, ""), str(kOfxParamPropStringMode, 0, kOfxParamStringIsFilePath),
        num(kOfxParamPropStringFilePathExists, 0, 0)}},
      {"exportButton",
       kOfxParamTypePushButton,
       {str(kOfxPropLabel, 0, "Save as .cube LUT"), str(kOfxParamPropHint, 0, "Export current LUT to .cube file")}},
      {"exportCDLButton",
       kOfxParamTypePushButton,
       {str(kOfxPropLabel, 0, "Save as .cdl"),
        str(kOfxParamPropHint, 0, "Export a simplified CDL version (for use in other applications)")}},
      {"rebuildButton",
       kOfxParamTypePushButton,
       {str(kOfxPropLabel, 0, "Refresh"),
        str(kOfxParamPropHint, 0, "Recalculate the color match (use if something looks wrong)")}},
      {"analysis",
       kOfxParamTypeChoice,
       {str(kOfxPropLabel, 0, "Analysis"),
        str(kOfxParamPropHint, 0,
            "Every Frame: each frame is matched on its own. Frame Range: one match for the whole shot, measured on "
            "frames spread from Analyse From to Analyse To. Rolling Window: each frame is matched on the frames "
            "around it, so the match follows changes of light smoothly"),
        str(kOfxParamPropChoiceOption, 0, "Every Frame"), str(kOfxParamPropChoiceOption, 1, "Frame Range"),
        str(kOfxParamPropChoiceOption, 2, "Rolling Window"), num(kOfxParamPropDefault, 0, 0)}},
      {"analysisStart", kOfxParamTypeInteger,
       intWrites("Analyse From", "First frame that Frame Range measures (From and To both 0: the whole Source clip)",
                 0, 0, 0)},
      {"analysisEnd", kOfxParamTypeInteger,
       intWrites("Analyse To", "Last frame that Frame Range measures (From and To both 0: the whole Source clip)", 0,
                 0, 0)},
      {"analysisFrames", kOfxParamTypeInteger,
       intWrites("Frames Analysed",
                 "How many frames, spread evenly from Analyse From to Analyse To, Frame Range measures", 12, 1, 250)},
      {"analysisWindow", kOfxParamTypeInteger,
       intWrites("Window", "Rolling Window measures this many frames before and after each frame", 12, 1, 100)},
  };
}

TEST(Describe, SetsTheEffectPropertiesInOrder) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  ASSERT_EQ(host.describe(), kOfxStatOK);
  boundary::expectWrites(host.descriptor(),
                         {
                             str(kOfxPropLabel, 0, "Tintbridge"),
                             str(kOfxImageEffectPluginPropGrouping, 0, "Lumenforge"),
                             str(kOfxImageEffectPropSupportedContexts, 0, kOfxImageEffectContextGeneral),
                             str(kOfxImageEffectPropSupportedContexts, 1, kOfxImageEffectContextFilter),
                             str(kOfxImageEffectPropSupportedPixelDepths, 0, kOfxBitDepthFloat),
                             str(kOfxImageEffectPropSupportedPixelDepths, 1, kOfxBitDepthShort),
                             str(kOfxImageEffectPropSupportedPixelDepths, 2, kOfxBitDepthByte),
                             num(kOfxImageEffectPropSupportsMultiResolution, 0, 1),
                             num(kOfxImageEffectPropSupportsTiles, 0, 1),
                             num(kOfxImageEffectPropTemporalClipAccess, 0, 1),
                             str(kOfxImageEffectPluginRenderThreadSafety, 0, kOfxImageEffectRenderFullySafe),
                         },
                         "effect descriptor");
}

class DescribeInContext : public ::testing::TestWithParam<const char *> {};

TEST_P(DescribeInContext, DefinesFiveClipsThenFifteenParametersWithTheirProperties) {
  const std::string context = GetParam();
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  ASSERT_EQ(host.describe(), kOfxStatOK);
  ASSERT_EQ(host.describeInContext(context), kOfxStatOK);

  const std::vector<tbhost::Definition> defs = host.definitions(context);
  const std::vector<std::string> clips = {"Source", "Reference", "SourceMask", "ReferenceMask", "Output"};
  const std::vector<ParamRow> params = paramTable();
  ASSERT_EQ(defs.size(), clips.size() + params.size());
  for (size_t i = 0; i < clips.size(); ++i) {
    EXPECT_EQ(defs[i].kind, DefinitionKind::Clip);
    EXPECT_EQ(defs[i].name, clips[i]);
    boundary::expectWrites(defs[i].properties, clipWrites(clips[i]), context + " clip " + clips[i]);
  }
  for (size_t i = 0; i < params.size(); ++i) {
    const tbhost::Definition &d = defs[clips.size() + i];
    EXPECT_EQ(d.kind, DefinitionKind::Param);
    EXPECT_EQ(d.name, params[i].name);
    EXPECT_EQ(d.paramType, params[i].type);
    boundary::expectWrites(d.properties, params[i].writes, context + " param " + params[i].name);
  }
  // Nothing else is declared on the context's effect descriptor.
  EXPECT_TRUE(host.contextDescriptor(context)->writes().empty());
}

INSTANTIATE_TEST_SUITE_P(BothContexts, DescribeInContext,
                         ::testing::Values(kOfxImageEffectContextGeneral, kOfxImageEffectContextFilter));

}  // namespace
