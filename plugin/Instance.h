// Creation and destruction of the per-instance record.
#ifndef TINTBRIDGE_INSTANCE_H
#define TINTBRIDGE_INSTANCE_H

#include "ofx/OfxApi.h"

OfxStatus createInstanceAction(OfxImageEffectHandle effect);
OfxStatus destroyInstanceAction(OfxImageEffectHandle effect);

#endif
