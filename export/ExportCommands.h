// The two export commands behind "exportButton" and "exportCDLButton".
#ifndef TINTBRIDGE_EXPORT_COMMANDS_H
#define TINTBRIDGE_EXPORT_COMMANDS_H

#include <cstddef>

#include "ofx/OfxApi.h"

struct MatchInstance;

// False when refused for lack of a usable LUT; true otherwise, written or not.
bool exportCube(MatchInstance &instance, OfxImageEffectHandle effect);
bool exportCdl(MatchInstance &instance, OfxImageEffectHandle effect);

// The default .cube path: documents folder plus a time-stamped name.
void defaultExportPath(char *buffer, size_t capacity);

#endif
