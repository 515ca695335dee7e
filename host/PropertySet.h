// A typed OFX property set as the headless host hands it to a plug-in.
//
// Each property has a type (string, int, double, pointer), a dimension (a
// fixed count of values, or 0 for "any count") and its values. Reads of a
// missing property, of the wrong type or past the end answer with an error
// status and leave the caller's out-value untouched, as real hosts do.
//
// A set is either open (a write of an unknown property creates it with the
// writer's type: used for descriptors, where the plug-in declares itself) or
// closed (such a write fails with kOfxStatErrUnknown). Every write the
// plug-in makes through the property suite is recorded in order, so tests can
// compare a description call by call. Faults can be injected per property
// name to make calls fail.
#ifndef TINTBRIDGE_HOST_PROPERTY_SET_H
#define TINTBRIDGE_HOST_PROPERTY_SET_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ofx/OfxApi.h"

namespace tbhost {

enum class PropType { String, Int, Double, Pointer };

const char *propTypeName(PropType type);

struct Property {
  PropType type = PropType::String;
  int dimension = 0;  // 0: variable count
  std::vector<std::string> strings;
  std::vector<int> ints;
  std::vector<double> doubles;
  std::vector<void *> pointers;

  int count() const;
};

// One write the plug-in made through the property suite. An N-setter records
// one entry per element, with `bulk` set.
struct PropertyWrite {
  std::string name;
  PropType type = PropType::String;
  int index = 0;
  bool bulk = false;
  std::string stringValue;
  int intValue = 0;
  double doubleValue = 0.0;
  void *pointerValue = nullptr;
  OfxStatus status = kOfxStatOK;
};

class PropertySet {
 public:
  static constexpr uint32_t kMagic = 0x50524f50u;  // "PROP"

  explicit PropertySet(std::string label = std::string(), bool open = false);
  PropertySet(const PropertySet &) = delete;
  PropertySet &operator=(const PropertySet &) = delete;

  OfxPropertySetHandle handle() { return reinterpret_cast<OfxPropertySetHandle>(this); }
  // The set behind a handle the plug-in passed, or null when it is not one.
  static PropertySet *fromHandle(OfxPropertySetHandle handle);

  const std::string &label() const { return label_; }
  bool isOpen() const { return open_; }
  void setOpen(bool open);

  // Host side: define (or redefine) a property with its values.
  void defineString(const std::string &name, std::vector<std::string> values, int dimension = -1);
  void defineInt(const std::string &name, std::vector<int> values, int dimension = -1);
  void defineDouble(const std::string &name, std::vector<double> values, int dimension = -1);
  void definePointer(const std::string &name, std::vector<void *> values, int dimension = -1);
  void remove(const std::string &name);
  void clear();
  // Copies every property of `other` (not its write log).
  void copyFrom(const PropertySet &other);

  // Host side reads; the fallback when missing, of another type or too short.
  bool has(const std::string &name) const;
  int dimension(const std::string &name) const;  // -1 when missing
  std::string getString(const std::string &name, int index = 0, const std::string &fallback = std::string()) const;
  int getInt(const std::string &name, int index = 0, int fallback = 0) const;
  double getDouble(const std::string &name, int index = 0, double fallback = 0.0) const;
  void *getPointer(const std::string &name, int index = 0, void *fallback = nullptr) const;
  std::vector<std::string> getStrings(const std::string &name) const;
  std::vector<int> getInts(const std::string &name) const;
  std::vector<double> getDoubles(const std::string &name) const;
  bool lookup(const std::string &name, Property &out) const;
  std::vector<std::string> names() const;

  // Writes made through the property suite, in order.
  std::vector<PropertyWrite> writes() const;
  void clearWrites();

  // Fault injection: every suite call on `name` ("" for every property)
  // returns `status` without effect, `count` times (-1: until cleared).
  void failCalls(const std::string &name, OfxStatus status, int count = -1);
  void clearFaults();

  // The property-suite operations. Index-based getters and setters; the N
  // forms take a count.
  OfxStatus setString(const char *name, int index, const char *value);
  OfxStatus setInt(const char *name, int index, int value);
  OfxStatus setDouble(const char *name, int index, double value);
  OfxStatus setPointer(const char *name, int index, void *value);
  OfxStatus setStringN(const char *name, int count, const char *const *values);
  OfxStatus setIntN(const char *name, int count, const int *values);
  OfxStatus setDoubleN(const char *name, int count, const double *values);
  OfxStatus setPointerN(const char *name, int count, void *const *values);
  OfxStatus getString(const char *name, int index, char **value);
  OfxStatus getInt(const char *name, int index, int *value);
  OfxStatus getDouble(const char *name, int index, double *value);
  OfxStatus getPointer(const char *name, int index, void **value);
  OfxStatus getStringN(const char *name, int count, char **values);
  OfxStatus getIntN(const char *name, int count, int *values);
  OfxStatus getDoubleN(const char *name, int count, double *values);
  OfxStatus getPointerN(const char *name, int count, void **values);
  OfxStatus reset(const char *name);
  OfxStatus getDimension(const char *name, int *count);

  // Internal: tag used by the host to recognise image handles.
  void *hostTag = nullptr;

 private:
  struct Fault {
    OfxStatus status;
    int remaining;
  };

  bool takeFault(const std::string &name, OfxStatus &status);  // lock held
  template <typename T>
  OfxStatus setValues(const char *name, int index, int count, const T *values, bool bulk);
  template <typename T, typename Out>
  OfxStatus getValues(const char *name, int index, int count, Out *values);
  void define(const std::string &name, Property property);

  uint32_t magic_ = kMagic;
  std::string label_;
  bool open_;
  mutable std::mutex mutex_;
  std::map<std::string, Property> props_;
  std::vector<PropertyWrite> writes_;
  std::map<std::string, Fault> faults_;
  std::map<std::string, Property> defaults_;  // as the host defined them, for propReset
};

// The property suite handed to plug-ins.
const OfxPropertySuiteV1 *propertySuite();

}  // namespace tbhost

#endif
