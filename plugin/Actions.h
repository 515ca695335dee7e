// Handlers of the actions that mainEntry dispatches.
#ifndef TINTBRIDGE_ACTIONS_H
#define TINTBRIDGE_ACTIONS_H

#include "ofx/OfxApi.h"

OfxStatus loadAction();
OfxStatus describeAction(OfxImageEffectHandle descriptor);
OfxStatus describeInContextAction(OfxImageEffectHandle descriptor, OfxPropertySetHandle inArgs);
OfxStatus createInstanceAction(OfxImageEffectHandle effect);
OfxStatus destroyInstanceAction(OfxImageEffectHandle effect);
OfxStatus instanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs);
OfxStatus isIdentityAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs);
OfxStatus renderAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs);

#endif
