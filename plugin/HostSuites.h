// The host record and the six suites fetched at load, shared by every action.
#ifndef TINTBRIDGE_HOST_SUITES_H
#define TINTBRIDGE_HOST_SUITES_H

#include "ofx/OfxApi.h"

struct HostSuites {
  OfxHost *ofxHost;
  const OfxPropertySuiteV1 *propertySuite;
  const OfxImageEffectSuiteV1 *imageEffectSuite;
  const OfxParameterSuiteV1 *parameterSuite;
  const OfxMemorySuiteV1 *memorySuite;
  const OfxMultiThreadSuiteV1 *multiThreadSuite;
  const OfxMessageSuiteV1 *messageSuite;
  // Whether the host gives images at any time ("OfxImageEffectPropTemporalClipAccess").
  bool temporalAccess;
};

// Process-wide; written by setHost and the load action only.
extern HostSuites gHostSuites;

#endif
