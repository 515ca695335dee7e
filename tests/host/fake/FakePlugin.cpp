// A minimal image effect used to exercise the headless host: it defines clips
// and parameters of several types, keeps a counter in host memory, edits a
// parameter from inside instance-changed, and renders by copying Source to
// Output scaled by "gain". "mode" picks a faulty render for ledger tests:
// 1 leaves Source unreleased, 2 releases it twice. A non-zero "offset" grows
// the region of interest of Source by that many units in x and y; a "name"
// that is a component type is what it prefers for Source, premultiplied.
// It declares temporal access: a "count" other than its default 3 asks for
// Source frames time-count and time+count in frames-needed and renders from
// Source at time+count, failing when the host gives none.
#include <cstring>

#include "ofx/OfxApi.h"

namespace {

OfxHost *gHost = nullptr;
const OfxPropertySuiteV1 *gProps = nullptr;
const OfxImageEffectSuiteV1 *gEffects = nullptr;
const OfxParameterSuiteV1 *gParams = nullptr;
const OfxMemorySuiteV1 *gMemory = nullptr;
const OfxMessageSuiteV1 *gMessages = nullptr;

struct FakeInstance {
  int changes;
};

void setHost(OfxHost *host) { gHost = host; }

const void *fetch(const char *name) { return gHost->fetchSuite(gHost->host, name, 1); }

OfxStatus load() {
  gProps = static_cast<const OfxPropertySuiteV1 *>(fetch(kOfxPropertySuite));
  gEffects = static_cast<const OfxImageEffectSuiteV1 *>(fetch(kOfxImageEffectSuite));
  gParams = static_cast<const OfxParameterSuiteV1 *>(fetch(kOfxParameterSuite));
  gMemory = static_cast<const OfxMemorySuiteV1 *>(fetch(kOfxMemorySuite));
  gMessages = static_cast<const OfxMessageSuiteV1 *>(fetch(kOfxMessageSuite));
  return gProps && gEffects && gParams && gMemory ? kOfxStatOK : kOfxStatErrMissingHostFeature;
}

OfxPropertySetHandle propsOf(OfxImageEffectHandle effect) {
  OfxPropertySetHandle set = nullptr;
  gEffects->getPropertySet(effect, &set);
  return set;
}

OfxParamHandle param(OfxImageEffectHandle effect, const char *name) {
  OfxParamSetHandle set = nullptr;
  OfxParamHandle handle = nullptr;
  gEffects->getParamSet(effect, &set);
  gParams->paramGetHandle(set, name, &handle, nullptr);
  return handle;
}

OfxStatus describeInContext(OfxImageEffectHandle effect) {
  OfxPropertySetHandle clip = nullptr;
  gEffects->clipDefine(effect, "Source", &clip);
  gProps->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
  gEffects->clipDefine(effect, "Output", &clip);
  gProps->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
  OfxParamSetHandle params = nullptr;
  gEffects->getParamSet(effect, &params);
  OfxPropertySetHandle p = nullptr;
  gParams->paramDefine(params, kOfxParamTypeDouble, "gain", &p);
  gProps->propSetDouble(p, kOfxParamPropDefault, 0, 0.5);
  gParams->paramDefine(params, kOfxParamTypeInteger, "count", &p);
  gProps->propSetInt(p, kOfxParamPropDefault, 0, 3);
  gParams->paramDefine(params, kOfxParamTypeChoice, "mode", &p);
  gProps->propSetString(p, kOfxParamPropChoiceOption, 0, "Good");
  gProps->propSetString(p, kOfxParamPropChoiceOption, 1, "Leak");
  gProps->propSetString(p, kOfxParamPropChoiceOption, 2, "Twice");
  gProps->propSetInt(p, kOfxParamPropDefault, 0, 0);
  gParams->paramDefine(params, kOfxParamTypeBoolean, "flag", &p);
  gProps->propSetInt(p, kOfxParamPropDefault, 0, 1);
  gParams->paramDefine(params, kOfxParamTypeString, "name", &p);
  gProps->propSetString(p, kOfxParamPropDefault, 0, "abc");
  gParams->paramDefine(params, kOfxParamTypeRGBA, "colour", &p);
  const double colour[4] = {0.1, 0.2, 0.3, 0.4};
  gProps->propSetDoubleN(p, kOfxParamPropDefault, 4, colour);
  gParams->paramDefine(params, kOfxParamTypeDouble2D, "offset", &p);
  gParams->paramDefine(params, kOfxParamTypePushButton, "press", &p);
  gParams->paramDefine(params, kOfxParamTypeDouble, "target", &p);
  return kOfxStatOK;
}

OfxStatus createInstance(OfxImageEffectHandle effect) {
  void *block = nullptr;
  gMemory->memoryAlloc(nullptr, sizeof(FakeInstance), &block);
  if (!block) return kOfxStatErrMemory;
  std::memset(block, 0, sizeof(FakeInstance));
  gProps->propSetPointer(propsOf(effect), kOfxPropInstanceData, 0, block);
  return kOfxStatOK;
}

FakeInstance *find(OfxImageEffectHandle effect) {
  void *data = nullptr;
  gProps->propGetPointer(propsOf(effect), kOfxPropInstanceData, 0, &data);
  return static_cast<FakeInstance *>(data);
}

OfxStatus destroyInstance(OfxImageEffectHandle effect) {
  FakeInstance *instance = find(effect);
  if (instance) gMemory->memoryFree(instance);
  return kOfxStatOK;
}

OfxStatus instanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle in) {
  FakeInstance *instance = find(effect);
  if (!instance) return kOfxStatErrBadHandle;
  ++instance->changes;
  char *name = nullptr;
  gProps->propGetString(in, kOfxPropName, 0, &name);
  if (name && std::strcmp(name, "press") == 0) {
    // The host reports this edit back to us before paramSetValue returns.
    gParams->paramSetValue(param(effect, "target"), 2.5);
    gParams->paramSetValue(param(effect, "name"), "pressed");
    if (gMessages) gMessages->message(effect, kOfxMessageMessage, nullptr, "%s %d", "pressed", instance->changes);
    return kOfxStatOK;
  }
  return kOfxStatReplyDefault;
}

OfxStatus isIdentity(OfxImageEffectHandle effect, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  double time = 0.0;
  double gain = 1.0;
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  gParams->paramGetValueAtTime(param(effect, "gain"), time, &gain);
  if (gain != 0.0) return kOfxStatReplyDefault;
  gProps->propSetString(out, kOfxPropName, 0, "Source");
  return kOfxStatOK;
}

struct View {
  char *data = nullptr;
  int rowBytes = 0;
  int bounds[4] = {0, 0, 0, 0};
};

View view(OfxPropertySetHandle image) {
  View v;
  void *data = nullptr;
  gProps->propGetPointer(image, kOfxImagePropData, 0, &data);
  v.data = static_cast<char *>(data);
  gProps->propGetInt(image, kOfxImagePropRowBytes, 0, &v.rowBytes);
  gProps->propGetIntN(image, kOfxImagePropBounds, 4, v.bounds);
  return v;
}

float *pixel(const View &v, int x, int y) {
  if (x < v.bounds[0] || x >= v.bounds[2] || y < v.bounds[1] || y >= v.bounds[3]) return nullptr;
  return reinterpret_cast<float *>(v.data + static_cast<long>(y - v.bounds[1]) * v.rowBytes +
                                   static_cast<long>(x - v.bounds[0]) * 16);
}

OfxStatus render(OfxImageEffectHandle effect, OfxPropertySetHandle in) {
  double time = 0.0;
  int window[4] = {0, 0, 0, 0};
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  gProps->propGetIntN(in, kOfxImageEffectPropRenderWindow, 4, window);
  OfxImageClipHandle sourceClip = nullptr;
  OfxImageClipHandle outputClip = nullptr;
  gEffects->clipGetHandle(effect, "Source", &sourceClip, nullptr);
  gEffects->clipGetHandle(effect, "Output", &outputClip, nullptr);
  OfxPropertySetHandle source = nullptr;
  OfxPropertySetHandle output = nullptr;
  int count = 3;
  gParams->paramGetValueAtTime(param(effect, "count"), time, &count);
  gEffects->clipGetImage(sourceClip, count == 3 ? time : time + count, nullptr, &source);
  gEffects->clipGetImage(outputClip, time, nullptr, &output);
  double gain = 1.0;
  int mode = 0;
  gParams->paramGetValueAtTime(param(effect, "gain"), time, &gain);
  gParams->paramGetValueAtTime(param(effect, "mode"), time, &mode);
  if (source && output) {
    const View s = view(source);
    const View o = view(output);
    for (int y = window[1]; y < window[3]; ++y) {
      for (int x = window[0]; x < window[2]; ++x) {
        float *dst = pixel(o, x, y);
        const float *src = pixel(s, x, y);
        if (!dst) continue;
        for (int c = 0; c < 4; ++c) dst[c] = src ? static_cast<float>(src[c] * gain) : 0.0f;
      }
    }
  }
  if (source && mode != 1) gEffects->clipReleaseImage(source);
  if (source && mode == 2) gEffects->clipReleaseImage(source);
  if (output) gEffects->clipReleaseImage(output);
  return source && output ? kOfxStatOK : kOfxStatFailed;
}

OfxStatus regionsOfInterest(OfxImageEffectHandle effect, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  double time = 0.0;
  double grow[2] = {0.0, 0.0};
  double roi[4] = {0.0, 0.0, 0.0, 0.0};
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  gParams->paramGetValueAtTime(param(effect, "offset"), time, &grow[0], &grow[1]);
  if (grow[0] == 0.0 && grow[1] == 0.0) return kOfxStatReplyDefault;
  gProps->propGetDoubleN(in, kOfxImageEffectPropRegionOfInterest, 4, roi);
  const double wanted[4] = {roi[0] - grow[0], roi[1] - grow[1], roi[2] + grow[0], roi[3] + grow[1]};
  gProps->propSetDoubleN(out, "OfxImageClipPropRoI_Source", 4, wanted);
  return kOfxStatOK;
}

OfxStatus framesNeeded(OfxImageEffectHandle effect, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  double time = 0.0;
  int count = 3;
  gProps->propGetDouble(in, kOfxPropTime, 0, &time);
  gParams->paramGetValueAtTime(param(effect, "count"), time, &count);
  if (count == 3) return kOfxStatReplyDefault;
  const double ranges[4] = {time - count, time - count, time + count, time + count};
  gProps->propSetDoubleN(out, "OfxImageClipPropFrameRange_Source", 4, ranges);
  return kOfxStatOK;
}

OfxStatus clipPreferences(OfxImageEffectHandle effect, OfxPropertySetHandle out) {
  const char *name = nullptr;
  gParams->paramGetValue(param(effect, "name"), &name);
  if (!name || std::strncmp(name, "OfxImageComponent", 17) != 0) return kOfxStatReplyDefault;
  gProps->propSetString(out, "OfxImageClipPropComponents_Source", 0, name);
  gProps->propSetString(out, kOfxImageEffectPropPreMultiplication, 0, kOfxImagePreMultiplied);
  return kOfxStatOK;
}

OfxStatus mainEntry(const char *action, const void *handle, OfxPropertySetHandle in, OfxPropertySetHandle out) {
  OfxImageEffectHandle effect = static_cast<OfxImageEffectHandle>(const_cast<void *>(handle));
  if (!action) return kOfxStatReplyDefault;
  if (std::strcmp(action, kOfxActionLoad) == 0) return load();
  if (std::strcmp(action, kOfxActionDescribe) == 0) {
    gProps->propSetString(propsOf(effect), kOfxPropLabel, 0, "Fake");
    gProps->propSetInt(propsOf(effect), kOfxImageEffectPropTemporalClipAccess, 0, 1);
    return kOfxStatOK;
  }
  if (std::strcmp(action, kOfxImageEffectActionDescribeInContext) == 0) return describeInContext(effect);
  if (std::strcmp(action, kOfxActionCreateInstance) == 0) return createInstance(effect);
  if (std::strcmp(action, kOfxActionDestroyInstance) == 0) return destroyInstance(effect);
  if (std::strcmp(action, kOfxActionInstanceChanged) == 0) return instanceChanged(effect, in);
  if (std::strcmp(action, kOfxImageEffectActionIsIdentity) == 0) return isIdentity(effect, in, out);
  if (std::strcmp(action, kOfxImageEffectActionRender) == 0) return render(effect, in);
  if (std::strcmp(action, kOfxImageEffectActionGetRegionsOfInterest) == 0) return regionsOfInterest(effect, in, out);
  if (std::strcmp(action, kOfxImageEffectActionGetClipPreferences) == 0) return clipPreferences(effect, out);
  if (std::strcmp(action, kOfxImageEffectActionGetFramesNeeded) == 0) return framesNeeded(effect, in, out);
  return kOfxStatReplyDefault;
}

OfxPlugin gPlugin = {kOfxImageEffectPluginApi, 1, "com.lumenforge.fakeeffect", 1, 0, setHost, mainEntry};

}  // namespace

extern "C" {
OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &gPlugin : nullptr; }
}
