// Reaction to parameter and clip changes: the export buttons, and marking the
// LUT stale when something that shapes it changed.
#include <cstring>

#include "plugin/InstanceChanged.h"

#include "plugin/ExportCommands.h"
#include "plugin/LutCache.h"
#include "plugin/Names.h"
#include "plugin/DebugLog.h"
#include "plugin/HostSuites.h"
#include "plugin/MatchInstance.h"

OfxStatus instanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;

  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  char *name = nullptr;
  props->propGetString(inArgs, kOfxPropName, 0, &name);
  if (name != nullptr) {
    if (std::strcmp(name, kParamExportButton) == 0) {
      if (!exportCube(*instance, effect)) return kOfxStatOK;
    } else if (std::strcmp(name, kParamExportCdlButton) == 0) {
      if (!exportCdl(*instance, effect)) return kOfxStatOK;
    } else if (std::strcmp(name, kParamRebuildButton) == 0) {
      invalidateLut(*instance);
      debugLog("Tintbridge: LUT invalidated - will rebuild on next render\n");
    } else if (std::strcmp(name, kParamMatchMode) == 0 || std::strcmp(name, kParamPreserveMode) == 0) {
      invalidateLut(*instance);
      debugLog("Tintbridge: Parameter changed - LUT invalidated\n");
    }
  }

  char *type = nullptr;
  props->propGetString(inArgs, kOfxPropType, 0, &type);
  if (type != nullptr && std::strcmp(type, kOfxTypeClip) == 0) {
    invalidateLut(*instance);
    debugLog("Tintbridge: Input clip changed - LUT invalidated\n");
  }
  return kOfxStatReplyDefault;
}
