// Reaction to parameter and clip changes.
#ifndef TINTBRIDGE_INSTANCE_CHANGED_H
#define TINTBRIDGE_INSTANCE_CHANGED_H

#include "ofx/OfxApi.h"

OfxStatus instanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs);

#endif
