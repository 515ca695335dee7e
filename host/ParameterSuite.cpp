// The parameter suite. The value functions are C variadics: the getters take
// one pointer per component and the setters one value per component, with
// the types the parameter's type calls for (int for integer, boolean and
// choice; double for double and colour types; const char * for strings).
#include <cstdarg>
#include <iterator>
#include <vector>

#include "host/Guarded.h"
#include "host/HostInternal.h"

namespace tbhost {

namespace {

double hostTime(const Param &param) { return param.owner->host->currentTime.load(); }

OfxStatus paramDefine(OfxParamSetHandle setHandle, const char *type, const char *name, OfxPropertySetHandle *out) {
  return guarded([&]() -> OfxStatus {
    ParamSet *set = ParamSet::fromHandle(setHandle);
    if (!set || !set->owner->isDescriptor) return kOfxStatErrBadHandle;
    if (!type || !name || !*name) return kOfxStatErrValue;
    int dimension = 0;
    const ParamKind kind = paramKind(type, dimension);
    if (dimension < 0) return kOfxStatErrUnknown;
    if (set->find(name)) return kOfxStatErrExists;
    std::unique_ptr<Param> param(new Param());
    param->owner = set->owner;
    param->name = name;
    param->type = type;
    param->kind = kind;
    param->dimension = dimension;
    param->props.defineString(kOfxPropType, {kOfxTypeParameter});
    param->props.defineString(kOfxPropName, {name});
    param->props.defineString(kOfxParamPropType, {type});
    if (kind == ParamKind::Text) param->value.text = std::make_shared<const std::string>();
    param->value.numbers.assign(static_cast<size_t>(kind == ParamKind::Text ? 0 : dimension), 0.0);
    Param *raw = param.get();
    {
      std::lock_guard<std::mutex> lock(set->mutex);
      set->params.push_back(std::move(param));
    }
    Definition d;
    d.kind = DefinitionKind::Param;
    d.context = set->owner->context;
    d.name = name;
    d.paramType = type;
    d.properties = &raw->props;
    recordDefinition(*set->owner->host, std::move(d));
    if (out) *out = raw->props.handle();
    return kOfxStatOK;
  });
}

OfxStatus paramGetHandle(OfxParamSetHandle setHandle, const char *name, OfxParamHandle *out,
                         OfxPropertySetHandle *props) {
  ParamSet *set = ParamSet::fromHandle(setHandle);
  if (!set) return kOfxStatErrBadHandle;
  if (!name) return kOfxStatErrUnknown;
  Param *param = set->find(name);
  if (!param) return kOfxStatErrUnknown;
  if (!out) return kOfxStatErrValue;
  *out = param->handle();
  if (props) *props = param->props.handle();
  return kOfxStatOK;
}

OfxStatus paramSetGetPropertySet(OfxParamSetHandle setHandle, OfxPropertySetHandle *out) {
  ParamSet *set = ParamSet::fromHandle(setHandle);
  if (!set) return kOfxStatErrBadHandle;
  if (!out) return kOfxStatErrValue;
  *out = set->props.handle();
  return kOfxStatOK;
}

OfxStatus paramGetPropertySet(OfxParamHandle handle, OfxPropertySetHandle *out) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  if (!out) return kOfxStatErrValue;
  *out = param->props.handle();
  return kOfxStatOK;
}

// Writes the value at `time` through the pointers in `ap`.
OfxStatus readValue(Param &param, double time, va_list ap) {
  if (param.kind == ParamKind::None) return kOfxStatErrUnsupported;
  ParamValue v;
  {
    std::lock_guard<std::mutex> lock(param.mutex);
    v = paramValueAt(param, time);
  }
  if (param.kind == ParamKind::Text) {
    const char **out = va_arg(ap, const char **);
    if (!out) return kOfxStatErrValue;
    // The text stays alive in the parameter (current value, key or retired).
    *out = v.text ? v.text->c_str() : "";
    return kOfxStatOK;
  }
  const size_t n = static_cast<size_t>(param.dimension);
  if (param.kind == ParamKind::Int) {
    std::vector<int *> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = va_arg(ap, int *);
    for (int *p : out) {
      if (!p) return kOfxStatErrValue;
    }
    for (size_t i = 0; i < n; ++i) *out[i] = i < v.numbers.size() ? static_cast<int>(v.numbers[i]) : 0;
    return kOfxStatOK;
  }
  std::vector<double *> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = va_arg(ap, double *);
  for (double *p : out) {
    if (!p) return kOfxStatErrValue;
  }
  for (size_t i = 0; i < n; ++i) *out[i] = i < v.numbers.size() ? v.numbers[i] : 0.0;
  return kOfxStatOK;
}

// Reads one value per component from `ap` into `value`.
OfxStatus takeValue(Param &param, va_list ap, ParamValue &value) {
  if (param.kind == ParamKind::None) return kOfxStatErrUnsupported;
  if (param.kind == ParamKind::Text) {
    const char *text = va_arg(ap, const char *);
    if (!text) return kOfxStatErrValue;
    value.text = std::make_shared<const std::string>(text);
    return kOfxStatOK;
  }
  const size_t n = static_cast<size_t>(param.dimension);
  value.numbers.resize(n);
  const bool boolean = param.type == kOfxParamTypeBoolean;
  for (size_t i = 0; i < n; ++i) {
    if (param.kind == ParamKind::Int) {
      const int v = va_arg(ap, int);
      value.numbers[i] = boolean ? (v != 0 ? 1.0 : 0.0) : v;
    } else {
      value.numbers[i] = va_arg(ap, double);
    }
  }
  return kOfxStatOK;
}

// Stores a value the plug-in set and, on an instance, reports the change
// back to the plug-in on this thread, with no lock held.
OfxStatus storeAndNotify(Param &param, bool atTime, double time, ParamValue value) {
  {
    std::lock_guard<std::mutex> lock(param.mutex);
    if (!atTime && !param.keys.empty()) {
      atTime = true;  // an animated parameter takes a key at the current time
      time = hostTime(param);
    }
    storeParamValue(param, atTime, time, std::move(value));
  }
  Effect &effect = *param.owner;
  if (!effect.isDescriptor && !effect.destroyed) {
    sendInstanceChanged(*effect.host, effect, param.name, kOfxTypeParameter, kOfxChangePluginEdited,
                        atTime ? time : hostTime(param));
  }
  return kOfxStatOK;
}

OfxStatus paramGetValue(OfxParamHandle handle, ...) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  va_list ap;
  va_start(ap, handle);
  const OfxStatus status = guarded([&] { return readValue(*param, hostTime(*param), ap); });
  va_end(ap);
  return status;
}

OfxStatus paramGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  va_list ap;
  va_start(ap, time);
  const OfxStatus status = guarded([&] { return readValue(*param, time, ap); });
  va_end(ap);
  return status;
}

OfxStatus writeDoubles(const std::vector<double> &values, va_list ap) {
  std::vector<double *> out(values.size());
  for (double *&p : out) p = va_arg(ap, double *);
  for (double *p : out) {
    if (!p) return kOfxStatErrValue;
  }
  for (size_t i = 0; i < values.size(); ++i) *out[i] = values[i];
  return kOfxStatOK;
}

OfxStatus paramGetDerivative(OfxParamHandle handle, OfxTime time, ...) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  if (param->kind != ParamKind::Double) return kOfxStatErrUnsupported;
  va_list ap;
  va_start(ap, time);
  const OfxStatus status = guarded([&] {
    std::vector<double> slope;
    {
      std::lock_guard<std::mutex> lock(param->mutex);
      slope = paramSlopeAt(*param, time);
    }
    return writeDoubles(slope, ap);
  });
  va_end(ap);
  return status;
}

OfxStatus paramGetIntegral(OfxParamHandle handle, OfxTime time1, OfxTime time2, ...) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  if (param->kind != ParamKind::Double) return kOfxStatErrUnsupported;
  va_list ap;
  va_start(ap, time2);
  const OfxStatus status = guarded([&] {
    std::vector<double> sum;
    {
      std::lock_guard<std::mutex> lock(param->mutex);
      sum = paramIntegral(*param, time1, time2);
    }
    return writeDoubles(sum, ap);
  });
  va_end(ap);
  return status;
}

OfxStatus paramSetValue(OfxParamHandle handle, ...) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  va_list ap;
  va_start(ap, handle);
  ParamValue value;
  const OfxStatus taken = guarded([&] { return takeValue(*param, ap, value); });
  va_end(ap);
  if (taken != kOfxStatOK) return taken;
  return guarded([&] { return storeAndNotify(*param, false, 0.0, std::move(value)); });
}

OfxStatus paramSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  va_list ap;
  va_start(ap, time);
  ParamValue value;
  const OfxStatus taken = guarded([&] { return takeValue(*param, ap, value); });
  va_end(ap);
  if (taken != kOfxStatOK) return taken;
  return guarded([&] { return storeAndNotify(*param, true, time, std::move(value)); });
}

OfxStatus paramGetNumKeys(OfxParamHandle handle, unsigned int *count) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  if (!count) return kOfxStatErrValue;
  std::lock_guard<std::mutex> lock(param->mutex);
  *count = static_cast<unsigned int>(param->keys.size());
  return kOfxStatOK;
}

OfxStatus paramGetKeyTime(OfxParamHandle handle, unsigned int nth, OfxTime *time) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  if (!time) return kOfxStatErrValue;
  std::lock_guard<std::mutex> lock(param->mutex);
  if (nth >= param->keys.size()) return kOfxStatErrBadIndex;
  *time = std::next(param->keys.begin(), static_cast<long>(nth))->first;
  return kOfxStatOK;
}

OfxStatus paramGetKeyIndex(OfxParamHandle handle, OfxTime time, int direction, int *index) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  if (!index) return kOfxStatErrValue;
  std::lock_guard<std::mutex> lock(param->mutex);
  int i = 0;
  int found = -1;
  for (const auto &key : param->keys) {
    if (direction == 0 && key.first == time) found = i;
    if (direction < 0 && key.first < time) found = i;
    if (direction > 0 && key.first > time && found < 0) found = i;
    ++i;
  }
  if (found < 0) return kOfxStatFailed;
  *index = found;
  return kOfxStatOK;
}

OfxStatus paramDeleteKey(OfxParamHandle handle, OfxTime time) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  std::lock_guard<std::mutex> lock(param->mutex);
  auto it = param->keys.find(time);
  if (it == param->keys.end()) return kOfxStatErrBadIndex;
  retireValue(*param, it->second);
  param->keys.erase(it);
  return kOfxStatOK;
}

OfxStatus paramDeleteAllKeys(OfxParamHandle handle) {
  Param *param = Param::fromHandle(handle);
  if (!param) return kOfxStatErrBadHandle;
  return guarded([&] {
    std::lock_guard<std::mutex> lock(param->mutex);
    dropParamKeys(*param);
    return kOfxStatOK;
  });
}

OfxStatus paramCopy(OfxParamHandle toHandle, OfxParamHandle fromHandle, OfxTime offset, const OfxRangeD *range) {
  Param *to = Param::fromHandle(toHandle);
  Param *from = Param::fromHandle(fromHandle);
  if (!to || !from) return kOfxStatErrBadHandle;
  if (to == from) return kOfxStatOK;
  if (to->type != from->type) return kOfxStatErrValue;
  return guarded([&] {
    ParamValue value;
    std::map<double, ParamValue> keys;
    {
      std::lock_guard<std::mutex> lock(from->mutex);
      value = from->value;
      for (const auto &key : from->keys) {
        if (!range || (key.first >= range->min && key.first <= range->max)) keys[key.first + offset] = key.second;
      }
    }
    std::lock_guard<std::mutex> lock(to->mutex);
    storeParamValue(*to, false, 0.0, value);
    dropParamKeys(*to);
    to->keys = std::move(keys);
    return kOfxStatOK;
  });
}

OfxStatus paramEditBegin(OfxParamSetHandle setHandle, const char *) {
  return ParamSet::fromHandle(setHandle) ? kOfxStatOK : kOfxStatErrBadHandle;
}

OfxStatus paramEditEnd(OfxParamSetHandle setHandle) {
  return ParamSet::fromHandle(setHandle) ? kOfxStatOK : kOfxStatErrBadHandle;
}

const OfxParameterSuiteV1 kParameterSuite = {
    paramDefine,        paramGetHandle,      paramSetGetPropertySet, paramGetPropertySet, paramGetValue,
    paramGetValueAtTime, paramGetDerivative, paramGetIntegral,       paramSetValue,       paramSetValueAtTime,
    paramGetNumKeys,    paramGetKeyTime,     paramGetKeyIndex,       paramDeleteKey,      paramDeleteAllKeys,
    paramCopy,          paramEditBegin,      paramEditEnd,
};

}  // namespace

const OfxParameterSuiteV1 *parameterSuite() { return &kParameterSuite; }

}  // namespace tbhost
