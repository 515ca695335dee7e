// The two export commands behind "exportButton" and "exportCDLButton".
#ifndef TINTBRIDGE_PLUGIN_EXPORT_COMMANDS_H
#define TINTBRIDGE_PLUGIN_EXPORT_COMMANDS_H

#include "ofx/OfxApi.h"

struct MatchInstance;

// False when refused for lack of a usable LUT; true otherwise, written or not.
bool exportCube(MatchInstance &instance, OfxImageEffectHandle effect);
bool exportCdl(MatchInstance &instance, OfxImageEffectHandle effect);

#endif
