#include "plugin/ClipRequests.h"

#include <algorithm>
#include <string>

#include "plugin/Analysis.h"
#include "plugin/HostSuites.h"
#include "plugin/MatchInstance.h"
#include "plugin/Names.h"

OfxStatus regionsOfInterestAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs,
                                  OfxPropertySetHandle outArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  const struct {
    OfxImageClipHandle clip;
    const char *name;
  } kInputs[] = {{instance->sourceClip, kClipSource},
                 {instance->referenceClip, kClipReference},
                 {instance->sourceMaskClip, kClipSourceMask},
                 {instance->referenceMaskClip, kClipReferenceMask}};
  // An analysis over several frames reads each of its frames whole, and the
  // host crops the images of every time to one region: the region covers
  // the clip at each of those frames as well as at `time`, where the clip
  // may have no image at all.
  AnalysisPlan analysed;
  framesToRead(*instance, time, analysed);
  for (const auto &input : kInputs) {
    if (input.clip == nullptr || gHostSuites.imageEffectSuite->clipGetRegionOfDefinition == nullptr) continue;
    OfxRectD rod = {0.0, 0.0, 0.0, 0.0};
    if (gHostSuites.imageEffectSuite->clipGetRegionOfDefinition(input.clip, time, &rod) != kOfxStatOK) continue;
    for (double frame : analysed.frames) {
      OfxRectD at = {0.0, 0.0, 0.0, 0.0};
      if (gHostSuites.imageEffectSuite->clipGetRegionOfDefinition(input.clip, frame, &at) != kOfxStatOK ||
          !(at.x2 > at.x1 && at.y2 > at.y1))
        continue;
      if (!(rod.x2 > rod.x1 && rod.y2 > rod.y1)) {
        rod = at;
        continue;
      }
      rod.x1 = std::min(rod.x1, at.x1);
      rod.y1 = std::min(rod.y1, at.y1);
      rod.x2 = std::max(rod.x2, at.x2);
      rod.y2 = std::max(rod.y2, at.y2);
    }
    // Nothing to cover: the host's region stands, so that whatever an
    // analysis then reads of the clip is not cropped away.
    if (!(rod.x2 > rod.x1 && rod.y2 > rod.y1)) continue;
    const double roi[4] = {rod.x1, rod.y1, rod.x2, rod.y2};
    props->propSetDoubleN(outArgs, (std::string(kOfxImageClipPropRoI_) + input.name).c_str(), 4, roi);
  }
  return kOfxStatOK;
}

OfxStatus clipPreferencesAction(OfxImageEffectHandle effect, OfxPropertySetHandle outArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  for (const char *mask : {kClipSourceMask, kClipReferenceMask})
    props->propSetString(outArgs, (std::string(kOfxImageClipPropComponents_) + mask).c_str(), 0,
                         kOfxImageComponentAlpha);
  OfxPropertySetHandle source = nullptr;
  if (instance->sourceClip != nullptr) gHostSuites.imageEffectSuite->clipGetPropertySet(instance->sourceClip, &source);
  char *premultiplication = nullptr;
  if (source != nullptr &&
      props->propGetString(source, kOfxImageEffectPropPreMultiplication, 0, &premultiplication) == kOfxStatOK &&
      premultiplication != nullptr)
    props->propSetString(outArgs, kOfxImageEffectPropPreMultiplication, 0, premultiplication);
  return kOfxStatOK;
}
