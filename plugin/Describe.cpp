// Declares the effect's properties, and its five clips and fifteen parameters, the
// same in every context.
#include "plugin/Describe.h"

#include "plugin/Names.h"
#include "plugin/HostSuites.h"

namespace {

void defineClip(OfxImageEffectHandle descriptor, const char *name, const char *const *components, int count,
                bool optional, bool isMask, const char *label, bool temporal) {
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle set = nullptr;
  gHostSuites.imageEffectSuite->clipDefine(descriptor, name, &set);
  for (int i = 0; i < count; ++i) props->propSetString(set, kOfxImageEffectPropSupportedComponents, i, components[i]);
  if (optional) props->propSetInt(set, kOfxImageClipPropOptional, 0, 1);
  if (isMask) props->propSetInt(set, kOfxImageClipPropIsMask, 0, 1);
  if (label != nullptr) props->propSetString(set, kOfxPropLabel, 0, label);
  // Analysis over several frames reads the input clips at other times.
  if (temporal) props->propSetInt(set, kOfxImageEffectPropTemporalClipAccess, 0, 1);
}

OfxPropertySetHandle defineParam(OfxParamSetHandle params, const char *type, const char *name, const char *label,
                                 const char *hint) {
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle set = nullptr;
  gHostSuites.parameterSuite->paramDefine(params, type, name, &set);
  props->propSetString(set, kOfxPropLabel, 0, label);
  props->propSetString(set, kOfxParamPropHint, 0, hint);
  return set;
}

void defineStrength(OfxParamSetHandle params, const char *name, const char *label, const char *hint) {
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle set = defineParam(params, kOfxParamTypeDouble, name, label, hint);
  props->propSetDouble(set, kOfxParamPropDefault, 0, 1.0);
  props->propSetDouble(set, kOfxParamPropMin, 0, 0.0);
  props->propSetDouble(set, kOfxParamPropMax, 0, 1.0);
  props->propSetDouble(set, kOfxParamPropDisplayMin, 0, 0.0);
  props->propSetDouble(set, kOfxParamPropDisplayMax, 0, 1.0);
  props->propSetDouble(set, kOfxParamPropIncrement, 0, 0.01);
  props->propSetInt(set, kOfxParamPropDigits, 0, 2);
}

void defineChoice(OfxParamSetHandle params, const char *name, const char *label, const char *hint,
                  const char *const *options, int count) {
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle set = defineParam(params, kOfxParamTypeChoice, name, label, hint);
  for (int i = 0; i < count; ++i) props->propSetString(set, kOfxParamPropChoiceOption, i, options[i]);
  props->propSetInt(set, kOfxParamPropDefault, 0, 0);
}

void defineInt(OfxParamSetHandle params, const char *name, const char *label, const char *hint, int value, int min,
               int max) {
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle set = defineParam(params, kOfxParamTypeInteger, name, label, hint);
  props->propSetInt(set, kOfxParamPropDefault, 0, value);
  if (min < max) {
    props->propSetInt(set, kOfxParamPropMin, 0, min);
    props->propSetInt(set, kOfxParamPropMax, 0, max);
    props->propSetInt(set, kOfxParamPropDisplayMin, 0, min);
    props->propSetInt(set, kOfxParamPropDisplayMax, 0, max);
  }
}

}  // namespace

OfxStatus describeAction(OfxImageEffectHandle descriptor) {
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle set = nullptr;
  gHostSuites.imageEffectSuite->getPropertySet(descriptor, &set);
  props->propSetString(set, kOfxPropLabel, 0, "Tintbridge");
  props->propSetString(set, kOfxImageEffectPluginPropGrouping, 0, "Lumenforge");
  props->propSetString(set, kOfxImageEffectPropSupportedContexts, 0, kOfxImageEffectContextGeneral);
  props->propSetString(set, kOfxImageEffectPropSupportedContexts, 1, kOfxImageEffectContextFilter);
  props->propSetString(set, kOfxImageEffectPropSupportedPixelDepths, 0, kOfxBitDepthFloat);
  props->propSetString(set, kOfxImageEffectPropSupportedPixelDepths, 1, kOfxBitDepthShort);
  props->propSetString(set, kOfxImageEffectPropSupportedPixelDepths, 2, kOfxBitDepthByte);
  props->propSetInt(set, kOfxImageEffectPropSupportsMultiResolution, 0, 1);
  props->propSetInt(set, kOfxImageEffectPropSupportsTiles, 0, 1);
  props->propSetInt(set, kOfxImageEffectPropTemporalClipAccess, 0, 1);
  props->propSetString(set, kOfxImageEffectPluginRenderThreadSafety, 0, kOfxImageEffectRenderFullySafe);
  return kOfxStatOK;
}

OfxStatus describeInContextAction(OfxImageEffectHandle descriptor, OfxPropertySetHandle /*inArgs*/) {
  static const char *const imageComponents[] = {kOfxImageComponentRGBA, kOfxImageComponentRGB};
  static const char *const maskComponents[] = {kOfxImageComponentAlpha, kOfxImageComponentRGBA,
                                               kOfxImageComponentRGB};
  defineClip(descriptor, kClipSource, imageComponents, 2, false, false, nullptr, true);
  defineClip(descriptor, kClipReference, imageComponents, 2, true, false, nullptr, true);
  defineClip(descriptor, kClipSourceMask, maskComponents, 3, true, true, "Source Mask", true);
  defineClip(descriptor, kClipReferenceMask, maskComponents, 3, true, true, "Reference Mask", true);
  defineClip(descriptor, kClipOutput, imageComponents, 2, false, false, nullptr, false);

  OfxParamSetHandle params = nullptr;
  gHostSuites.imageEffectSuite->getParamSet(descriptor, &params);

  defineStrength(params, kParamStrength, "Mix", "How much of the color match to apply (0 = original, 1 = fully matched)");
  defineStrength(params, kParamStrengthR, "Red Mix", "Fine-tune the red channel match");
  defineStrength(params, kParamStrengthG, "Green Mix", "Fine-tune the green channel match");
  defineStrength(params, kParamStrengthB, "Blue Mix", "Fine-tune the blue channel match");

  static const char *const modeOptions[] = {"Different Clips", "Same Frame"};
  defineChoice(params, kParamMatchMode, "Mode",
               "Different Clips: For matching separate footage. Same Frame: For matching two grades of the same image",
               modeOptions, 2);
  static const char *const preserveOptions[] = {"Nothing (Full Match)", "Original Brightness", "Original Colors"};
  defineChoice(params, kParamPreserveMode, "Preserve", "Keep certain aspects of your original image while matching others",
               preserveOptions, 3);

  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  OfxPropertySetHandle pathSet = defineParam(params, kOfxParamTypeString, kParamExportPath, "Save To",
                                             "Where to save the exported LUT file (leave empty for your documents folder)");
  props->propSetString(pathSet, kOfxParamPropDefault, 0, "");
  props->propSetString(pathSet, kOfxParamPropStringMode, 0, kOfxParamStringIsFilePath);
  props->propSetInt(pathSet, kOfxParamPropStringFilePathExists, 0, 0);

  defineParam(params, kOfxParamTypePushButton, kParamExportButton, "Save as .cube LUT", "Export current LUT to .cube file");
  defineParam(params, kOfxParamTypePushButton, kParamExportCdlButton, "Save as .cdl",
              "Export a simplified CDL version (for use in other applications)");
  defineParam(params, kOfxParamTypePushButton, kParamRebuildButton, "Refresh",
              "Recalculate the color match (use if something looks wrong)");

  static const char *const analysisOptions[] = {"Every Frame", "Frame Range", "Rolling Window"};
  defineChoice(params, kParamAnalysis, "Analysis",
               "Every Frame: each frame is matched on its own. Frame Range: one match for the whole shot, measured on "
               "frames spread from Analyse From to Analyse To. Rolling Window: each frame is matched on the frames "
               "around it, so the match follows changes of light smoothly",
               analysisOptions, 3);
  defineInt(params, kParamAnalysisStart, "Analyse From",
            "First frame that Frame Range measures (From and To both 0: the whole Source clip)", 0, 0, 0);
  defineInt(params, kParamAnalysisEnd, "Analyse To",
            "Last frame that Frame Range measures (From and To both 0: the whole Source clip)", 0, 0, 0);
  defineInt(params, kParamAnalysisFrames, "Frames Analysed",
            "How many frames, spread evenly from Analyse From to Analyse To, Frame Range measures",
            kAnalysisFramesDefault, 1, kAnalysisFramesMax);
  defineInt(params, kParamAnalysisWindow, "Window",
            "Rolling Window measures this many frames before and after each frame",
            kAnalysisWindowDefault, 1, kAnalysisWindowMax);
  return kOfxStatOK;
}
