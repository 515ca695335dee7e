// Property sets, host side: the typed definers, reads, the write log and
// fault injection. The operations the plug-in calls are in PropertySuite.cpp.
#include "host/PropertySet.h"

namespace tbhost {

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

}  // namespace tbhost
