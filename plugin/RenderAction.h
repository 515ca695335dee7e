// The render and is-identity actions.
#ifndef TINTBRIDGE_RENDER_ACTION_H
#define TINTBRIDGE_RENDER_ACTION_H

#include "ofx/OfxApi.h"

OfxStatus renderAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs);
OfxStatus isIdentityAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs);

#endif
