// What the effect declares: its properties, clips and parameters.
#ifndef TINTBRIDGE_DESCRIBE_H
#define TINTBRIDGE_DESCRIBE_H

#include "ofx/OfxApi.h"

OfxStatus describeAction(OfxImageEffectHandle descriptor);
OfxStatus describeInContextAction(OfxImageEffectHandle descriptor, OfxPropertySetHandle inArgs);

#endif
