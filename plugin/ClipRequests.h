// What the effect asks of the host for its clips before a render: regions of
// interest and clip preferences.
#ifndef TINTBRIDGE_CLIP_REQUESTS_H
#define TINTBRIDGE_CLIP_REQUESTS_H

#include "ofx/OfxApi.h"

// The match measures whole frames: every input clip is asked for its whole
// region of definition, whatever the render window.
OfxStatus regionsOfInterestAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs,
                                  OfxPropertySetHandle outArgs);

// Masks are asked for as Alpha, so hosts convert RGB mattes; the output is
// premultiplied as the Source is.
OfxStatus clipPreferencesAction(OfxImageEffectHandle effect, OfxPropertySetHandle outArgs);

#endif
