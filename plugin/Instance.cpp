// Creation and destruction of the per-instance record.
#include <cstring>
#include <cstddef>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "plugin/Instance.h"
#include "plugin/LutCache.h"
#include "plugin/Names.h"
#include "plugin/DebugLog.h"
#include "plugin/HostSuites.h"
#include "plugin/MatchInstance.h"

namespace {

// Every live record by its effect, so that destroy can free a record even when
// the host fails to hand back "OfxPropInstanceData" at that moment.
std::mutex gLiveLock;
std::vector<std::pair<OfxImageEffectHandle, MatchInstance *>> gLive;

void rememberInstance(OfxImageEffectHandle effect, MatchInstance *instance) {
  std::lock_guard<std::mutex> guard(gLiveLock);
  try {
    gLive.emplace_back(effect, instance);
  } catch (...) {
    // Without room the record is still found through its property.
  }
}

// Takes the record of `effect` off the list; the one found through the
// property when given, else the one listed for the effect.
MatchInstance *forgetInstance(OfxImageEffectHandle effect, MatchInstance *found) {
  std::lock_guard<std::mutex> guard(gLiveLock);
  for (size_t i = 0; i < gLive.size(); ++i) {
    if (found != nullptr ? gLive[i].second == found : gLive[i].first == effect) {
      MatchInstance *instance = gLive[i].second;
      gLive.erase(gLive.begin() + static_cast<std::ptrdiff_t>(i));
      return instance;
    }
  }
  return found;
}

}  // namespace

MatchInstance *findInstance(OfxImageEffectHandle effect) {
  OfxPropertySetHandle set = nullptr;
  gHostSuites.imageEffectSuite->getPropertySet(effect, &set);
  void *data = nullptr;
  gHostSuites.propertySuite->propGetPointer(set, kOfxPropInstanceData, 0, &data);
  return static_cast<MatchInstance *>(data);
}

OfxStatus createInstanceAction(OfxImageEffectHandle effect) {
  debugLog("Tintbridge: CREATE INSTANCE\n");
  if (gHostSuites.memorySuite == nullptr) return kOfxStatErrMissingHostFeature;
  void *memory = nullptr;
  gHostSuites.memorySuite->memoryAlloc(nullptr, sizeof(MatchInstance), &memory);
  if (memory == nullptr) return kOfxStatErrMemory;
  // Zero-fill, then construct the record's C++ members in the host's memory.
  std::memset(memory, 0, sizeof(MatchInstance));
  MatchInstance *instance = new (memory) MatchInstance();
  instance->effect = effect;

  const OfxImageEffectSuiteV1 *fx = gHostSuites.imageEffectSuite;
  fx->clipGetHandle(effect, kClipSource, &instance->sourceClip, nullptr);
  fx->clipGetHandle(effect, kClipReference, &instance->referenceClip, nullptr);
  fx->clipGetHandle(effect, kClipOutput, &instance->outputClip, nullptr);
  fx->clipGetHandle(effect, kClipSourceMask, &instance->sourceMaskClip, nullptr);
  fx->clipGetHandle(effect, kClipReferenceMask, &instance->referenceMaskClip, nullptr);

  OfxParamSetHandle params = nullptr;
  fx->getParamSet(effect, &params);
  const OfxParameterSuiteV1 *ps = gHostSuites.parameterSuite;
  ps->paramGetHandle(params, kParamStrength, &instance->strengthParam, nullptr);
  ps->paramGetHandle(params, kParamStrengthR, &instance->strengthRParam, nullptr);
  ps->paramGetHandle(params, kParamStrengthG, &instance->strengthGParam, nullptr);
  ps->paramGetHandle(params, kParamStrengthB, &instance->strengthBParam, nullptr);
  ps->paramGetHandle(params, kParamMatchMode, &instance->matchModeParam, nullptr);
  ps->paramGetHandle(params, kParamPreserveMode, &instance->preserveModeParam, nullptr);
  ps->paramGetHandle(params, kParamExportPath, &instance->exportPathParam, nullptr);
  ps->paramGetHandle(params, kParamExportButton, &instance->exportButtonParam, nullptr);
  ps->paramGetHandle(params, kParamExportCdlButton, &instance->exportCdlButtonParam, nullptr);
  ps->paramGetHandle(params, kParamRebuildButton, &instance->rebuildButtonParam, nullptr);
  ps->paramGetHandle(params, kParamAnalysis, &instance->analysisParam, nullptr);
  ps->paramGetHandle(params, kParamAnalysisStart, &instance->analysisStartParam, nullptr);
  ps->paramGetHandle(params, kParamAnalysisEnd, &instance->analysisEndParam, nullptr);
  ps->paramGetHandle(params, kParamAnalysisFrames, &instance->analysisFramesParam, nullptr);
  ps->paramGetHandle(params, kParamAnalysisWindow, &instance->analysisWindowParam, nullptr);
  if (!gHostSuites.temporalAccess)
    debugLog("Tintbridge: host has no temporal clip access - every frame is analysed on its own\n");

  // A grid that cannot be had now is tried again by the first render.
  try {
    instance->lutPool = std::make_shared<LutPool>();
  } catch (...) {
    instance->lutPool.reset();
  }
  instance->lut = takePooledLut(instance->lutPool);
  if (instance->lut) instance->lut->allocate(kMatchLutSize);

  instance->cachedSourceTime = -1.0;
  instance->cachedReferenceTime = -1.0;
  instance->cachedMatchMode = -1;
  instance->cachedPreserveMode = -1;
  instance->cachedHadSourceMask = false;
  instance->cachedHadReferenceMask = false;
  instance->generation = 0;
  instance->buildCount = 0;
  instance->analysisBuilding = false;

  OfxPropertySetHandle set = nullptr;
  fx->getPropertySet(effect, &set);
  // A record that cannot be attached could never be found again, nor freed.
  if (set == nullptr ||
      gHostSuites.propertySuite->propSetPointer(set, kOfxPropInstanceData, 0, instance) != kOfxStatOK) {
    instance->~MatchInstance();
    gHostSuites.memorySuite->memoryFree(memory);
    return kOfxStatFailed;
  }
  rememberInstance(effect, instance);
  return kOfxStatOK;
}

OfxStatus destroyInstanceAction(OfxImageEffectHandle effect) {
  MatchInstance *instance = forgetInstance(effect, findInstance(effect));
  if (instance == nullptr) return kOfxStatOK;
  // Dropping the record's references frees the grids; a render that still
  // holds one keeps it alive until it returns.
  instance->~MatchInstance();
  if (gHostSuites.memorySuite != nullptr) gHostSuites.memorySuite->memoryFree(instance);
  return kOfxStatOK;
}
