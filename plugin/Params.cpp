#include "plugin/Params.h"

#include "plugin/HostSuites.h"

namespace {

const OfxParameterSuiteV1 *suiteFor(OfxParamHandle param) {
  return param != nullptr ? gHostSuites.parameterSuite : nullptr;
}

}  // namespace

// The getters are C variadics: each passes the address of a value of the
// parameter's own type.
double paramDouble(OfxParamHandle param, double fallback) {
  const OfxParameterSuiteV1 *suite = suiteFor(param);
  double value = fallback;
  if (suite != nullptr && suite->paramGetValue != nullptr) suite->paramGetValue(param, &value);
  return value;
}

double paramDoubleAt(OfxParamHandle param, double time, double fallback) {
  const OfxParameterSuiteV1 *suite = suiteFor(param);
  double value = fallback;
  if (suite != nullptr && suite->paramGetValueAtTime != nullptr) suite->paramGetValueAtTime(param, time, &value);
  return value;
}

int paramIntAt(OfxParamHandle param, double time, int fallback) {
  const OfxParameterSuiteV1 *suite = suiteFor(param);
  int value = fallback;
  if (suite != nullptr && suite->paramGetValueAtTime != nullptr) suite->paramGetValueAtTime(param, time, &value);
  return value;
}

const char *paramString(OfxParamHandle param) {
  const OfxParameterSuiteV1 *suite = suiteFor(param);
  const char *value = nullptr;
  if (suite != nullptr && suite->paramGetValue != nullptr) suite->paramGetValue(param, &value);
  return value;
}

void setParamString(OfxParamHandle param, const char *value) {
  const OfxParameterSuiteV1 *suite = suiteFor(param);
  if (suite != nullptr && suite->paramSetValue != nullptr) suite->paramSetValue(param, value);
}
