// The module's face towards the host: the two exported entry points, the
// plug-in record, the host suites and the action dispatch.
#include <cstring>
#include <exception>
#include <new>

#include "ofx/OfxApi.h"
#include "plugin/Analysis.h"
#include "plugin/ClipRequests.h"
#include "plugin/Describe.h"
#include "plugin/Instance.h"
#include "plugin/InstanceChanged.h"
#include "plugin/RenderAction.h"
#include "plugin/HostSuites.h"

HostSuites gHostSuites = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false};

namespace {

void setHost(OfxHost *host) { gHostSuites.ofxHost = host; }

OfxStatus loadAction();

OfxStatus dispatch(const char *action, const void *handle, OfxPropertySetHandle inArgs,
                   OfxPropertySetHandle outArgs) {
  if (action == nullptr) return kOfxStatReplyDefault;
  OfxImageEffectHandle effect = static_cast<OfxImageEffectHandle>(const_cast<void *>(handle));
  if (std::strcmp(action, kOfxActionLoad) == 0) return loadAction();
  // Every other action needs the suites that load fetched.
  if (gHostSuites.propertySuite == nullptr || gHostSuites.imageEffectSuite == nullptr ||
      gHostSuites.parameterSuite == nullptr) {
    return kOfxStatReplyDefault;
  }
  if (std::strcmp(action, kOfxActionDescribe) == 0) return describeAction(effect);
  if (std::strcmp(action, kOfxImageEffectActionDescribeInContext) == 0) return describeInContextAction(effect, inArgs);
  if (std::strcmp(action, kOfxActionCreateInstance) == 0) return createInstanceAction(effect);
  if (std::strcmp(action, kOfxActionDestroyInstance) == 0) return destroyInstanceAction(effect);
  if (std::strcmp(action, kOfxActionInstanceChanged) == 0) return instanceChanged(effect, inArgs);
  if (std::strcmp(action, kOfxImageEffectActionIsIdentity) == 0) return isIdentityAction(effect, inArgs, outArgs);
  if (std::strcmp(action, kOfxImageEffectActionRender) == 0) return renderAction(effect, inArgs);
  if (std::strcmp(action, kOfxImageEffectActionGetRegionsOfInterest) == 0)
    return regionsOfInterestAction(effect, inArgs, outArgs);
  if (std::strcmp(action, kOfxImageEffectActionGetClipPreferences) == 0) return clipPreferencesAction(effect, outArgs);
  if (std::strcmp(action, kOfxImageEffectActionGetFramesNeeded) == 0)
    return framesNeededAction(effect, inArgs, outArgs);
  return kOfxStatReplyDefault;
}

// No exception ever reaches the host: a failed allocation becomes an error
// status.
OfxStatus mainEntry(const char *action, const void *handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
  try {
    return dispatch(action, handle, inArgs, outArgs);
  } catch (const std::bad_alloc &) {
    return kOfxStatErrMemory;
  } catch (...) {
    return kOfxStatFailed;
  }
}

OfxPlugin gPlugin = {
    kOfxImageEffectPluginApi, 1, "com.lumenforge.tintbridge", 1, 0, setHost, mainEntry,
};

const void *fetch(const char *name) {
  OfxHost *host = gHostSuites.ofxHost;
  if (host == nullptr || host->fetchSuite == nullptr) return nullptr;
  return host->fetchSuite(host->host, name, 1);
}

OfxStatus loadAction() {
  gHostSuites.propertySuite = static_cast<const OfxPropertySuiteV1 *>(fetch(kOfxPropertySuite));
  gHostSuites.imageEffectSuite = static_cast<const OfxImageEffectSuiteV1 *>(fetch(kOfxImageEffectSuite));
  gHostSuites.parameterSuite = static_cast<const OfxParameterSuiteV1 *>(fetch(kOfxParameterSuite));
  gHostSuites.memorySuite = static_cast<const OfxMemorySuiteV1 *>(fetch(kOfxMemorySuite));
  gHostSuites.multiThreadSuite = static_cast<const OfxMultiThreadSuiteV1 *>(fetch(kOfxMultiThreadSuite));
  gHostSuites.messageSuite = static_cast<const OfxMessageSuiteV1 *>(fetch(kOfxMessageSuite));
  // Instances live in host memory, so a host without the memory suite is
  // refused as well.
  if (gHostSuites.propertySuite == nullptr || gHostSuites.imageEffectSuite == nullptr ||
      gHostSuites.parameterSuite == nullptr || gHostSuites.memorySuite == nullptr) {
    return kOfxStatErrMissingHostFeature;
  }
  // Images at other times than the render's only from a host that says so.
  int temporal = 0;
  gHostSuites.temporalAccess =
      gHostSuites.ofxHost->host != nullptr &&
      gHostSuites.propertySuite->propGetInt(gHostSuites.ofxHost->host, kOfxImageEffectPropTemporalClipAccess, 0,
                                            &temporal) == kOfxStatOK &&
      temporal != 0;
  return kOfxStatOK;
}

}  // namespace

extern "C" {
OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &gPlugin : nullptr; }
}
