// Property and parameter suites that fail chosen calls, for the fuzz targets
// and the fault-injection tests. `install` puts a fetchSuite in front of the
// host's, before the plug-in loads: the plug-in then gets copies of the
// host's suites whose calls are counted, and the calls numbered within the
// armed range answer with an error status and leave every out-value alone.
//
//   faultysuites::install(host);
//   faultysuites::failProperty(5, 3);   // property calls 5, 6 and 7 from now fail
//   faultysuites::failParameter(1, -1); // every parameter call from now fails
#ifndef TINTBRIDGE_FAULTY_SUITES_H
#define TINTBRIDGE_FAULTY_SUITES_H

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "host/Host.h"
#include "ofx/OfxApi.h"

namespace faultysuites {

struct Counter {
  std::atomic<long> calls{0};
  std::atomic<long> failFrom{0};  // 0: nothing armed
  std::atomic<long> failTo{0};    // exclusive; -1: no end
  std::atomic<long> failed{0};
  std::atomic<OfxStatus> status{kOfxStatErrUnknown};

  bool next() {
    const long n = ++calls;
    const long from = failFrom.load();
    const long to = failTo.load();
    if (from == 0 || n < from || (to >= 0 && n >= to)) return false;
    ++failed;
    return true;
  }
  void arm(long first, long count, OfxStatus why) {
    status = why;
    const long base = calls.load();
    failTo = count < 0 ? -1 : base + first + count;
    failFrom = base + first;
  }
  void disarm() { failFrom = 0; }
};

struct State {
  const void *(*hostFetch)(OfxPropertySetHandle, const char *, int) = nullptr;
  const OfxPropertySuiteV1 *property = nullptr;
  const OfxParameterSuiteV1 *parameter = nullptr;
  OfxPropertySuiteV1 faultyProperty;
  OfxParameterSuiteV1 faultyParameter;
  Counter propertyCalls;
  Counter parameterCalls;
};

inline State &state() {
  static State s;
  return s;
}

#define TB_FAULTY_PROP(name, params, args)                                       \
  inline OfxStatus name params {                                                 \
    if (state().propertyCalls.next()) return state().propertyCalls.status.load(); \
    return state().property->name args;                                          \
  }
TB_FAULTY_PROP(propSetPointer, (OfxPropertySetHandle h, const char *p, int i, void *v), (h, p, i, v))
TB_FAULTY_PROP(propSetString, (OfxPropertySetHandle h, const char *p, int i, const char *v), (h, p, i, v))
TB_FAULTY_PROP(propSetDouble, (OfxPropertySetHandle h, const char *p, int i, double v), (h, p, i, v))
TB_FAULTY_PROP(propSetInt, (OfxPropertySetHandle h, const char *p, int i, int v), (h, p, i, v))
TB_FAULTY_PROP(propSetPointerN, (OfxPropertySetHandle h, const char *p, int c, void *const *v), (h, p, c, v))
TB_FAULTY_PROP(propSetStringN, (OfxPropertySetHandle h, const char *p, int c, const char *const *v), (h, p, c, v))
TB_FAULTY_PROP(propSetDoubleN, (OfxPropertySetHandle h, const char *p, int c, const double *v), (h, p, c, v))
TB_FAULTY_PROP(propSetIntN, (OfxPropertySetHandle h, const char *p, int c, const int *v), (h, p, c, v))
TB_FAULTY_PROP(propGetPointer, (OfxPropertySetHandle h, const char *p, int i, void **v), (h, p, i, v))
TB_FAULTY_PROP(propGetString, (OfxPropertySetHandle h, const char *p, int i, char **v), (h, p, i, v))
TB_FAULTY_PROP(propGetDouble, (OfxPropertySetHandle h, const char *p, int i, double *v), (h, p, i, v))
TB_FAULTY_PROP(propGetInt, (OfxPropertySetHandle h, const char *p, int i, int *v), (h, p, i, v))
TB_FAULTY_PROP(propGetPointerN, (OfxPropertySetHandle h, const char *p, int c, void **v), (h, p, c, v))
TB_FAULTY_PROP(propGetStringN, (OfxPropertySetHandle h, const char *p, int c, char **v), (h, p, c, v))
TB_FAULTY_PROP(propGetDoubleN, (OfxPropertySetHandle h, const char *p, int c, double *v), (h, p, c, v))
TB_FAULTY_PROP(propGetIntN, (OfxPropertySetHandle h, const char *p, int c, int *v), (h, p, c, v))
TB_FAULTY_PROP(propReset, (OfxPropertySetHandle h, const char *p), (h, p))
TB_FAULTY_PROP(propGetDimension, (OfxPropertySetHandle h, const char *p, int *c), (h, p, c))
#undef TB_FAULTY_PROP

// The parameter value calls are variadic. The plug-in passes exactly one
// pointer after the handle (and the time) to the getters, and one string to
// paramSetValue, so that is what is forwarded.
inline OfxStatus paramGetValue(OfxParamHandle param, ...) {
  if (state().parameterCalls.next()) return state().parameterCalls.status.load();
  va_list args;
  va_start(args, param);
  void *out = va_arg(args, void *);
  va_end(args);
  return state().parameter->paramGetValue(param, out);
}

inline OfxStatus paramGetValueAtTime(OfxParamHandle param, OfxTime time, ...) {
  if (state().parameterCalls.next()) return state().parameterCalls.status.load();
  va_list args;
  va_start(args, time);
  void *out = va_arg(args, void *);
  va_end(args);
  return state().parameter->paramGetValueAtTime(param, time, out);
}

inline OfxStatus paramSetValue(OfxParamHandle param, ...) {
  if (state().parameterCalls.next()) return state().parameterCalls.status.load();
  va_list args;
  va_start(args, param);
  const char *value = va_arg(args, const char *);
  va_end(args);
  return state().parameter->paramSetValue(param, value);
}

inline OfxStatus paramGetHandle(OfxParamSetHandle set, const char *name, OfxParamHandle *param,
                                OfxPropertySetHandle *props) {
  if (state().parameterCalls.next()) return state().parameterCalls.status.load();
  return state().parameter->paramGetHandle(set, name, param, props);
}

inline OfxStatus paramDefine(OfxParamSetHandle set, const char *type, const char *name,
                             OfxPropertySetHandle *props) {
  if (state().parameterCalls.next()) return state().parameterCalls.status.load();
  return state().parameter->paramDefine(set, type, name, props);
}

inline const void *fetch(OfxPropertySetHandle host, const char *name, int version) {
  State &s = state();
  const void *suite = s.hostFetch ? s.hostFetch(host, name, version) : nullptr;
  if (suite == nullptr || name == nullptr) return suite;
  if (std::strcmp(name, kOfxPropertySuite) == 0) {
    s.property = static_cast<const OfxPropertySuiteV1 *>(suite);
    s.faultyProperty = OfxPropertySuiteV1{propSetPointer,  propSetString,  propSetDouble,   propSetInt,
                                          propSetPointerN, propSetStringN, propSetDoubleN,  propSetIntN,
                                          propGetPointer,  propGetString,  propGetDouble,   propGetInt,
                                          propGetPointerN, propGetStringN, propGetDoubleN,  propGetIntN,
                                          propReset,       propGetDimension};
    return &s.faultyProperty;
  }
  if (std::strcmp(name, kOfxParameterSuite) == 0) {
    s.parameter = static_cast<const OfxParameterSuiteV1 *>(suite);
    s.faultyParameter = *s.parameter;
    s.faultyParameter.paramDefine = paramDefine;
    s.faultyParameter.paramGetHandle = paramGetHandle;
    s.faultyParameter.paramGetValue = paramGetValue;
    s.faultyParameter.paramGetValueAtTime = paramGetValueAtTime;
    s.faultyParameter.paramSetValue = paramSetValue;
    return &s.faultyParameter;
  }
  return suite;
}

// Call before host.load(). One host at a time.
inline void install(tbhost::Host &host) {
  OfxHost *record = host.ofxHost();
  if (record->fetchSuite != fetch) state().hostFetch = record->fetchSuite;
  record->fetchSuite = fetch;
  state().propertyCalls.disarm();
  state().parameterCalls.disarm();
}

// Calls `first` (1: the next one) to `first + count - 1` from now fail with
// `why`; a negative count: every call from `first` on.
inline void failProperty(long first, long count, OfxStatus why = kOfxStatErrUnknown) {
  state().propertyCalls.arm(first, count, why);
}
inline void failParameter(long first, long count, OfxStatus why = kOfxStatErrUnknown) {
  state().parameterCalls.arm(first, count, why);
}
inline void disarm() {
  state().propertyCalls.disarm();
  state().parameterCalls.disarm();
}
inline long failedCalls() { return state().propertyCalls.failed.load() + state().parameterCalls.failed.load(); }

}  // namespace faultysuites

#endif
