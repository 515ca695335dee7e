#include "host/PropertySet.h"

#include <new>
#include <type_traits>

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

const char *propTypeName(PropType type) {
  switch (type) {
    case PropType::String: return "string";
    case PropType::Int: return "int";
    case PropType::Double: return "double";
    case PropType::Pointer: return "pointer";
  }
  return "?";
}

int Property::count() const {
  switch (type) {
    case PropType::String: return static_cast<int>(strings.size());
    case PropType::Int: return static_cast<int>(ints.size());
    case PropType::Double: return static_cast<int>(doubles.size());
    case PropType::Pointer: return static_cast<int>(pointers.size());
  }
  return 0;
}

PropertySet::PropertySet(std::string label, bool open) : label_(std::move(label)), open_(open) {}

PropertySet *PropertySet::fromHandle(OfxPropertySetHandle handle) {
  if (!handle) return nullptr;
  PropertySet *set = reinterpret_cast<PropertySet *>(handle);
  return set->magic_ == kMagic ? set : nullptr;
}

void PropertySet::setOpen(bool open) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = open;
}

void PropertySet::define(const std::string &name, Property property) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaults_[name] = property;
  props_[name] = std::move(property);
}

void PropertySet::defineString(const std::string &name, std::vector<std::string> values, int dimension) {
  Property p;
  p.type = PropType::String;
  p.dimension = dimension < 0 ? static_cast<int>(values.size()) : dimension;
  p.strings = std::move(values);
  define(name, std::move(p));
}

void PropertySet::defineInt(const std::string &name, std::vector<int> values, int dimension) {
  Property p;
  p.type = PropType::Int;
  p.dimension = dimension < 0 ? static_cast<int>(values.size()) : dimension;
  p.ints = std::move(values);
  define(name, std::move(p));
}

void PropertySet::defineDouble(const std::string &name, std::vector<double> values, int dimension) {
  Property p;
  p.type = PropType::Double;
  p.dimension = dimension < 0 ? static_cast<int>(values.size()) : dimension;
  p.doubles = std::move(values);
  define(name, std::move(p));
}

void PropertySet::definePointer(const std::string &name, std::vector<void *> values, int dimension) {
  Property p;
  p.type = PropType::Pointer;
  p.dimension = dimension < 0 ? static_cast<int>(values.size()) : dimension;
  p.pointers = std::move(values);
  define(name, std::move(p));
}

void PropertySet::remove(const std::string &name) {
  std::lock_guard<std::mutex> lock(mutex_);
  props_.erase(name);
  defaults_.erase(name);
}

void PropertySet::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  props_.clear();
  defaults_.clear();
}

void PropertySet::copyFrom(const PropertySet &other) {
  if (&other == this) return;
  std::map<std::string, Property> copy;
  {
    std::lock_guard<std::mutex> lock(other.mutex_);
    copy = other.props_;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto &entry : copy) {
    defaults_[entry.first] = entry.second;
    props_[entry.first] = std::move(entry.second);
  }
}

bool PropertySet::has(const std::string &name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return props_.count(name) != 0;
}

int PropertySet::dimension(const std::string &name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = props_.find(name);
  return it == props_.end() ? -1 : it->second.count();
}

bool PropertySet::lookup(const std::string &name, Property &out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = props_.find(name);
  if (it == props_.end()) return false;
  out = it->second;
  return true;
}

std::string PropertySet::getString(const std::string &name, int index, const std::string &fallback) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::String || index < 0 || index >= p.count()) return fallback;
  return p.strings[static_cast<size_t>(index)];
}

int PropertySet::getInt(const std::string &name, int index, int fallback) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::Int || index < 0 || index >= p.count()) return fallback;
  return p.ints[static_cast<size_t>(index)];
}

double PropertySet::getDouble(const std::string &name, int index, double fallback) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::Double || index < 0 || index >= p.count()) return fallback;
  return p.doubles[static_cast<size_t>(index)];
}

void *PropertySet::getPointer(const std::string &name, int index, void *fallback) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::Pointer || index < 0 || index >= p.count()) return fallback;
  return p.pointers[static_cast<size_t>(index)];
}

std::vector<std::string> PropertySet::getStrings(const std::string &name) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::String) return {};
  return p.strings;
}

std::vector<int> PropertySet::getInts(const std::string &name) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::Int) return {};
  return p.ints;
}

std::vector<double> PropertySet::getDoubles(const std::string &name) const {
  Property p;
  if (!lookup(name, p) || p.type != PropType::Double) return {};
  return p.doubles;
}

std::vector<std::string> PropertySet::names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto &entry : props_) out.push_back(entry.first);
  return out;
}

std::vector<PropertyWrite> PropertySet::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

void PropertySet::clearWrites() {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.clear();
}

void PropertySet::failCalls(const std::string &name, OfxStatus status, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[name] = Fault{status, count};
}

void PropertySet::clearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

bool PropertySet::takeFault(const std::string &name, OfxStatus &status) {
  auto it = faults_.find(name);
  if (it == faults_.end()) it = faults_.find(std::string());
  if (it == faults_.end()) return false;
  status = it->second.status;
  if (it->second.remaining > 0 && --it->second.remaining == 0) faults_.erase(it);
  return true;
}

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

// ---- The suite: C entry points that never let an exception out. ----

namespace {

template <typename Fn>
OfxStatus guarded(OfxPropertySetHandle handle, Fn fn) {
  PropertySet *set = PropertySet::fromHandle(handle);
  if (!set) return kOfxStatErrBadHandle;
  try {
    return fn(*set);
  } catch (const std::bad_alloc &) {
    return kOfxStatErrMemory;
  } catch (...) {
    return kOfxStatErrFatal;
  }
}

OfxStatus propSetPointer(OfxPropertySetHandle h, const char *n, int i, void *v) {
  return guarded(h, [&](PropertySet &s) { return s.setPointer(n, i, v); });
}
OfxStatus propSetString(OfxPropertySetHandle h, const char *n, int i, const char *v) {
  return guarded(h, [&](PropertySet &s) { return s.setString(n, i, v); });
}
OfxStatus propSetDouble(OfxPropertySetHandle h, const char *n, int i, double v) {
  return guarded(h, [&](PropertySet &s) { return s.setDouble(n, i, v); });
}
OfxStatus propSetInt(OfxPropertySetHandle h, const char *n, int i, int v) {
  return guarded(h, [&](PropertySet &s) { return s.setInt(n, i, v); });
}
OfxStatus propSetPointerN(OfxPropertySetHandle h, const char *n, int c, void *const *v) {
  return guarded(h, [&](PropertySet &s) { return s.setPointerN(n, c, v); });
}
OfxStatus propSetStringN(OfxPropertySetHandle h, const char *n, int c, const char *const *v) {
  return guarded(h, [&](PropertySet &s) { return s.setStringN(n, c, v); });
}
OfxStatus propSetDoubleN(OfxPropertySetHandle h, const char *n, int c, const double *v) {
  return guarded(h, [&](PropertySet &s) { return s.setDoubleN(n, c, v); });
}
OfxStatus propSetIntN(OfxPropertySetHandle h, const char *n, int c, const int *v) {
  return guarded(h, [&](PropertySet &s) { return s.setIntN(n, c, v); });
}
OfxStatus propGetPointer(OfxPropertySetHandle h, const char *n, int i, void **v) {
  return guarded(h, [&](PropertySet &s) { return s.getPointer(n, i, v); });
}
OfxStatus propGetString(OfxPropertySetHandle h, const char *n, int i, char **v) {
  return guarded(h, [&](PropertySet &s) { return s.getString(n, i, v); });
}
OfxStatus propGetDouble(OfxPropertySetHandle h, const char *n, int i, double *v) {
  return guarded(h, [&](PropertySet &s) { return s.getDouble(n, i, v); });
}
OfxStatus propGetInt(OfxPropertySetHandle h, const char *n, int i, int *v) {
  return guarded(h, [&](PropertySet &s) { return s.getInt(n, i, v); });
}
OfxStatus propGetPointerN(OfxPropertySetHandle h, const char *n, int c, void **v) {
  return guarded(h, [&](PropertySet &s) { return s.getPointerN(n, c, v); });
}
OfxStatus propGetStringN(OfxPropertySetHandle h, const char *n, int c, char **v) {
  return guarded(h, [&](PropertySet &s) { return s.getStringN(n, c, v); });
}
OfxStatus propGetDoubleN(OfxPropertySetHandle h, const char *n, int c, double *v) {
  return guarded(h, [&](PropertySet &s) { return s.getDoubleN(n, c, v); });
}
OfxStatus propGetIntN(OfxPropertySetHandle h, const char *n, int c, int *v) {
  return guarded(h, [&](PropertySet &s) { return s.getIntN(n, c, v); });
}
OfxStatus propReset(OfxPropertySetHandle h, const char *n) {
  return guarded(h, [&](PropertySet &s) { return s.reset(n); });
}
OfxStatus propGetDimension(OfxPropertySetHandle h, const char *n, int *c) {
  return guarded(h, [&](PropertySet &s) { return s.getDimension(n, c); });
}

const OfxPropertySuiteV1 kPropertySuite = {
    propSetPointer,  propSetString,  propSetDouble,  propSetInt,      propSetPointerN, propSetStringN,
    propSetDoubleN,  propSetIntN,    propGetPointer, propGetString,   propGetDouble,   propGetInt,
    propGetPointerN, propGetStringN, propGetDoubleN, propGetIntN,     propReset,       propGetDimension,
};

}  // namespace

const OfxPropertySuiteV1 *propertySuite() { return &kPropertySuite; }

}  // namespace tbhost
