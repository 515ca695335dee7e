// The property suite: the index-based getters and setters the plug-in calls,
// and their C entry points, which never let an exception out.
#include <type_traits>

#include "host/Guarded.h"
#include "host/PropertySet.h"

namespace tbhost {

namespace {

template <typename T>
struct Slot;
template <>
struct Slot<std::string> {
  static constexpr PropType type = PropType::String;
  static std::vector<std::string> &of(Property &p) { return p.strings; }
  static void note(PropertyWrite &w, const std::string &v) { w.stringValue = v; }
  static char *out(std::string &v) { return const_cast<char *>(v.c_str()); }
};
template <>
struct Slot<int> {
  static constexpr PropType type = PropType::Int;
  static std::vector<int> &of(Property &p) { return p.ints; }
  static void note(PropertyWrite &w, int v) { w.intValue = v; }
  static int out(int v) { return v; }
};
template <>
struct Slot<double> {
  static constexpr PropType type = PropType::Double;
  static std::vector<double> &of(Property &p) { return p.doubles; }
  static void note(PropertyWrite &w, double v) { w.doubleValue = v; }
  static double out(double v) { return v; }
};
template <>
struct Slot<void *> {
  static constexpr PropType type = PropType::Pointer;
  static std::vector<void *> &of(Property &p) { return p.pointers; }
  static void note(PropertyWrite &w, void *v) { w.pointerValue = v; }
  static void *out(void *v) { return v; }
};

void resizeTo(Property &p, int n) {
  switch (p.type) {
    case PropType::String: p.strings.resize(static_cast<size_t>(n)); break;
    case PropType::Int: p.ints.resize(static_cast<size_t>(n), 0); break;
    case PropType::Double: p.doubles.resize(static_cast<size_t>(n), 0.0); break;
    case PropType::Pointer: p.pointers.resize(static_cast<size_t>(n), nullptr); break;
  }
}

// Values a C caller handed us, converted to what we store.
std::string stored(const char *v) { return v ? std::string(v) : std::string(); }
int stored(int v) { return v; }
double stored(double v) { return v; }
void *stored(void *v) { return v; }

}  // namespace

template <typename T>
OfxStatus PropertySet::setValues(const char *name, int index, int count, const T *values, bool bulk) {
  using Stored = decltype(stored(values[0]));
  const PropType type = Slot<Stored>::type;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = name ? name : "";
  auto record = [&](int i, OfxStatus status) {
    PropertyWrite w;
    w.name = key;
    w.type = type;
    w.index = i;
    w.bulk = bulk;
    w.status = status;
    if (values && status == kOfxStatOK) Slot<Stored>::note(w, stored(values[i - index]));
    writes_.push_back(std::move(w));
    return status;
  };
  OfxStatus status = kOfxStatOK;
  if (takeFault(key, status)) return record(index, status);
  if (!name) return record(index, kOfxStatErrUnknown);
  if (count < 0 || index < 0) return record(index, kOfxStatErrBadIndex);
  if (count > 0 && !values) return record(index, kOfxStatErrValue);
  if constexpr (std::is_same<Stored, std::string>::value) {
    for (int i = 0; i < count; ++i) {
      if (!values[i]) return record(index + i, kOfxStatErrValue);
    }
  }
  auto it = props_.find(key);
  if (it == props_.end()) {
    if (!open_) return record(index, kOfxStatErrUnknown);
    Property p;
    p.type = type;
    p.dimension = 0;
    it = props_.emplace(key, std::move(p)).first;
  }
  Property &p = it->second;
  if (p.type != type) return record(index, kOfxStatErrUnknown);
  const int end = index + count;
  if (p.dimension > 0 && end > p.dimension) return record(index, kOfxStatErrBadIndex);
  if (end > p.count()) resizeTo(p, end);
  auto &slots = Slot<Stored>::of(p);
  for (int i = index; i < end; ++i) {
    slots[static_cast<size_t>(i)] = stored(values[i - index]);
    record(i, kOfxStatOK);
  }
  return kOfxStatOK;
}

template <typename T, typename Out>
OfxStatus PropertySet::getValues(const char *name, int index, int count, Out *values) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = name ? name : "";
  OfxStatus status = kOfxStatOK;
  if (takeFault(key, status)) return status;
  if (!name) return kOfxStatErrUnknown;
  auto it = props_.find(key);
  if (it == props_.end()) return kOfxStatErrUnknown;
  Property &p = it->second;
  if (p.type != Slot<T>::type) return kOfxStatErrUnknown;
  if (index < 0 || count < 0 || index + count > p.count()) return kOfxStatErrBadIndex;
  if (count > 0 && !values) return kOfxStatErrValue;
  auto &slots = Slot<T>::of(p);
  for (int i = 0; i < count; ++i) values[i] = Slot<T>::out(slots[static_cast<size_t>(index + i)]);
  return kOfxStatOK;
}

OfxStatus PropertySet::setString(const char *name, int index, const char *value) {
  return setValues(name, index, 1, &value, false);
}
OfxStatus PropertySet::setInt(const char *name, int index, int value) {
  return setValues(name, index, 1, &value, false);
}
OfxStatus PropertySet::setDouble(const char *name, int index, double value) {
  return setValues(name, index, 1, &value, false);
}
OfxStatus PropertySet::setPointer(const char *name, int index, void *value) {
  return setValues(name, index, 1, &value, false);
}
OfxStatus PropertySet::setStringN(const char *name, int count, const char *const *values) {
  return setValues(name, 0, count, values, true);
}
OfxStatus PropertySet::setIntN(const char *name, int count, const int *values) {
  return setValues(name, 0, count, values, true);
}
OfxStatus PropertySet::setDoubleN(const char *name, int count, const double *values) {
  return setValues(name, 0, count, values, true);
}
OfxStatus PropertySet::setPointerN(const char *name, int count, void *const *values) {
  return setValues(name, 0, count, values, true);
}
OfxStatus PropertySet::getString(const char *name, int index, char **value) {
  return getValues<std::string>(name, index, 1, value);
}
OfxStatus PropertySet::getInt(const char *name, int index, int *value) {
  return getValues<int>(name, index, 1, value);
}
OfxStatus PropertySet::getDouble(const char *name, int index, double *value) {
  return getValues<double>(name, index, 1, value);
}
OfxStatus PropertySet::getPointer(const char *name, int index, void **value) {
  return getValues<void *>(name, index, 1, value);
}
OfxStatus PropertySet::getStringN(const char *name, int count, char **values) {
  return getValues<std::string>(name, 0, count, values);
}
OfxStatus PropertySet::getIntN(const char *name, int count, int *values) {
  return getValues<int>(name, 0, count, values);
}
OfxStatus PropertySet::getDoubleN(const char *name, int count, double *values) {
  return getValues<double>(name, 0, count, values);
}
OfxStatus PropertySet::getPointerN(const char *name, int count, void **values) {
  return getValues<void *>(name, 0, count, values);
}

OfxStatus PropertySet::reset(const char *name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = name ? name : "";
  OfxStatus status = kOfxStatOK;
  if (takeFault(key, status)) return status;
  auto it = props_.find(key);
  if (it == props_.end()) return kOfxStatErrUnknown;
  auto def = defaults_.find(key);
  if (def != defaults_.end()) {
    it->second = def->second;
  } else {
    resizeTo(it->second, 0);
  }
  return kOfxStatOK;
}

OfxStatus PropertySet::getDimension(const char *name, int *count) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = name ? name : "";
  OfxStatus status = kOfxStatOK;
  if (takeFault(key, status)) return status;
  auto it = props_.find(key);
  if (it == props_.end()) return kOfxStatErrUnknown;
  if (!count) return kOfxStatErrValue;
  *count = it->second.count();
  return kOfxStatOK;
}

namespace {

// A call on the set behind `handle`, or kOfxStatErrBadHandle when it is not one.
template <typename Fn>
OfxStatus onSet(OfxPropertySetHandle handle, Fn fn) {
  PropertySet *set = PropertySet::fromHandle(handle);
  if (!set) return kOfxStatErrBadHandle;
  return guarded([&] { return fn(*set); });
}

OfxStatus propSetPointer(OfxPropertySetHandle h, const char *n, int i, void *v) {
  return onSet(h, [&](PropertySet &s) { return s.setPointer(n, i, v); });
}
OfxStatus propSetString(OfxPropertySetHandle h, const char *n, int i, const char *v) {
  return onSet(h, [&](PropertySet &s) { return s.setString(n, i, v); });
}
OfxStatus propSetDouble(OfxPropertySetHandle h, const char *n, int i, double v) {
  return onSet(h, [&](PropertySet &s) { return s.setDouble(n, i, v); });
}
OfxStatus propSetInt(OfxPropertySetHandle h, const char *n, int i, int v) {
  return onSet(h, [&](PropertySet &s) { return s.setInt(n, i, v); });
}
OfxStatus propSetPointerN(OfxPropertySetHandle h, const char *n, int c, void *const *v) {
  return onSet(h, [&](PropertySet &s) { return s.setPointerN(n, c, v); });
}
OfxStatus propSetStringN(OfxPropertySetHandle h, const char *n, int c, const char *const *v) {
  return onSet(h, [&](PropertySet &s) { return s.setStringN(n, c, v); });
}
OfxStatus propSetDoubleN(OfxPropertySetHandle h, const char *n, int c, const double *v) {
  return onSet(h, [&](PropertySet &s) { return s.setDoubleN(n, c, v); });
}
OfxStatus propSetIntN(OfxPropertySetHandle h, const char *n, int c, const int *v) {
  return onSet(h, [&](PropertySet &s) { return s.setIntN(n, c, v); });
}
OfxStatus propGetPointer(OfxPropertySetHandle h, const char *n, int i, void **v) {
  return onSet(h, [&](PropertySet &s) { return s.getPointer(n, i, v); });
}
OfxStatus propGetString(OfxPropertySetHandle h, const char *n, int i, char **v) {
  return onSet(h, [&](PropertySet &s) { return s.getString(n, i, v); });
}
OfxStatus propGetDouble(OfxPropertySetHandle h, const char *n, int i, double *v) {
  return onSet(h, [&](PropertySet &s) { return s.getDouble(n, i, v); });
}
OfxStatus propGetInt(OfxPropertySetHandle h, const char *n, int i, int *v) {
  return onSet(h, [&](PropertySet &s) { return s.getInt(n, i, v); });
}
OfxStatus propGetPointerN(OfxPropertySetHandle h, const char *n, int c, void **v) {
  return onSet(h, [&](PropertySet &s) { return s.getPointerN(n, c, v); });
}
OfxStatus propGetStringN(OfxPropertySetHandle h, const char *n, int c, char **v) {
  return onSet(h, [&](PropertySet &s) { return s.getStringN(n, c, v); });
}
OfxStatus propGetDoubleN(OfxPropertySetHandle h, const char *n, int c, double *v) {
  return onSet(h, [&](PropertySet &s) { return s.getDoubleN(n, c, v); });
}
OfxStatus propGetIntN(OfxPropertySetHandle h, const char *n, int c, int *v) {
  return onSet(h, [&](PropertySet &s) { return s.getIntN(n, c, v); });
}
OfxStatus propReset(OfxPropertySetHandle h, const char *n) {
  return onSet(h, [&](PropertySet &s) { return s.reset(n); });
}
OfxStatus propGetDimension(OfxPropertySetHandle h, const char *n, int *c) {
  return onSet(h, [&](PropertySet &s) { return s.getDimension(n, c); });
}

const OfxPropertySuiteV1 kPropertySuite = {
    propSetPointer,  propSetString,  propSetDouble,  propSetInt,      propSetPointerN, propSetStringN,
    propSetDoubleN,  propSetIntN,    propGetPointer, propGetString,   propGetDouble,   propGetInt,
    propGetPointerN, propGetStringN, propGetDoubleN, propGetIntN,     propReset,       propGetDimension,
};

}  // namespace

const OfxPropertySuiteV1 *propertySuite() { return &kPropertySuite; }

}  // namespace tbhost
