// The two export commands behind "exportButton" and "exportCDLButton": the
// LUT they take, the paths they write, and what they tell the user.
#include "plugin/ExportCommands.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "export/CdlValues.h"
#include "export/ExportPaths.h"
#include "lut/MatchLut.h"
#include "plugin/DebugLog.h"
#include "plugin/HostSuites.h"
#include "plugin/LutCache.h"
#include "plugin/MatchInstance.h"
#include "plugin/Params.h"

namespace {

const char kNoLutMessage[] = "No LUT available. Connect Source and Reference clips and view the result first.";

void showMessage(OfxImageEffectHandle effect, const char *type, const char *text) {
  const OfxMessageSuiteV1 *suite = gHostSuites.messageSuite;
  if (suite == nullptr || suite->message == nullptr) return;
  suite->message(effect, type, nullptr, "%s", text);
}

// Resolves the path straight away, while the host's string is still current.
bool readAndResolvePath(MatchInstance &instance, ExportKind kind, char *path) {
  return resolveExportPath(paramString(instance.exportPathParam), kind, exportTimeStamp(), path);
}

bool refuseWithoutLut(OfxImageEffectHandle effect, const char *logLine) {
  debugLog(logLine);
  showMessage(effect, "OfxMessageError", kNoLutMessage);
  return false;
}

bool runCubeExport(MatchInstance &instance, OfxImageEffectHandle effect) {
  std::shared_ptr<MatchLut> lut = usableLut(instance);
  if (!lut) return refuseWithoutLut(effect, "Tintbridge: Export failed - no valid LUT (render the image first)\n");

  // The strengths' defaults stand in when the host gives no value.
  const double mix = paramDouble(instance.strengthParam, 1.0);
  const double strengthR = paramDouble(instance.strengthRParam, 1.0);
  const double strengthG = paramDouble(instance.strengthGParam, 1.0);
  const double strengthB = paramDouble(instance.strengthBParam, 1.0);
  char path[kExportPathCapacity];
  std::memset(path, 0, sizeof path);
  const bool resolved = readAndResolvePath(instance, ExportKind::Cube, path);

  char line[256];
  std::snprintf(line, sizeof line, "Tintbridge: Exporting cached LUT with Mix=%.3f, R=%.3f, G=%.3f, B=%.3f\n", mix,
                strengthR, strengthG, strengthB);
  debugLog(line);

  const bool written = resolved && lut->writeCube(path, static_cast<float>(mix), static_cast<float>(strengthR),
                                                  static_cast<float>(strengthG), static_cast<float>(strengthB));
  // Done with the grid; the host calls below may re-enter the plug-in.
  lut.reset();

  if (written) {
    setParamString(instance.exportPathParam, path);
    debugLog("Tintbridge: Export successful\n");
    char message[1100];
    std::snprintf(message, sizeof message, "LUT saved to:\n%s", path);
    showMessage(effect, "OfxMessageMessage", message);
  } else {
    debugLog("Tintbridge: Export FAILED\n");
    showMessage(effect, "OfxMessageError", "Failed to save .cube file");
  }
  return true;
}

bool runCdlExport(MatchInstance &instance, OfxImageEffectHandle effect) {
  std::shared_ptr<MatchLut> lut = usableLut(instance);
  if (!lut) return refuseWithoutLut(effect, "Tintbridge: CDL Export failed - no valid LUT (render the image first)\n");

  char path[kExportPathCapacity];
  std::memset(path, 0, sizeof path);
  const bool resolved = readAndResolvePath(instance, ExportKind::Cdl, path);

  CdlValues values = {{1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 1.0f};
  lut->fitCdl(values);
  lut.reset();

  if (resolved && writeCdl(path, values)) {
    debugLog("Tintbridge: CDL Export successful\n");
    char message[1100];
    std::snprintf(message, sizeof message, "CDL saved to:\n%s", path);
    showMessage(effect, "OfxMessageMessage", message);
  } else {
    debugLog("Tintbridge: CDL Export FAILED\n");
    showMessage(effect, "OfxMessageError", "Failed to save .cdl file");
  }
  return true;
}

}  // namespace

bool exportCube(MatchInstance &instance, OfxImageEffectHandle effect) {
  try {
    return runCubeExport(instance, effect);
  } catch (...) {
    debugLog("Tintbridge: Export FAILED\n");
    showMessage(effect, "OfxMessageError", "Failed to save .cube file");
    return true;
  }
}

bool exportCdl(MatchInstance &instance, OfxImageEffectHandle effect) {
  try {
    return runCdlExport(instance, effect);
  } catch (...) {
    debugLog("Tintbridge: CDL Export FAILED\n");
    showMessage(effect, "OfxMessageError", "Failed to save .cdl file");
    return true;
  }
}
