// Reads of the instance's parameters: the one way every action asks the host
// for a value. A missing handle or suite function, or a host that does not
// answer, gives the fallback.
#ifndef TINTBRIDGE_PARAMS_H
#define TINTBRIDGE_PARAMS_H

#include "ofx/OfxApi.h"

double paramDouble(OfxParamHandle param, double fallback);
double paramDoubleAt(OfxParamHandle param, double time, double fallback);
int paramIntAt(OfxParamHandle param, double time, int fallback);
// The host's string, valid until the next host call; null when there is none.
const char *paramString(OfxParamHandle param);
// Sets a string parameter; the host may send instance-changed before this returns.
void setParamString(OfxParamHandle param, const char *value);

#endif
