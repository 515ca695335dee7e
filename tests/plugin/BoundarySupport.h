// Helpers for tests that drive the built module through our host.
#ifndef TINTBRIDGE_TESTS_BOUNDARY_SUPPORT_H
#define TINTBRIDGE_TESTS_BOUNDARY_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/Host.h"

namespace boundary {

// One expected property write: name, index, and the value with its type.
struct Expected {
  std::string name;
  int index;
  tbhost::PropType type;
  std::string text;
  int integer;
  double number;
};

inline Expected str(const std::string &name, int index, const std::string &value) {
  return Expected{name, index, tbhost::PropType::String, value, 0, 0.0};
}
inline Expected num(const std::string &name, int index, int value) {
  return Expected{name, index, tbhost::PropType::Int, "", value, 0.0};
}
inline Expected dbl(const std::string &name, int index, double value) {
  return Expected{name, index, tbhost::PropType::Double, "", 0, value};
}

// The writes on `set` are exactly `expected`, in order, all accepted.
inline void expectWrites(const tbhost::PropertySet *set, const std::vector<Expected> &expected,
                         const std::string &what) {
  ASSERT_NE(set, nullptr) << what;
  const std::vector<tbhost::PropertyWrite> writes = set->writes();
  ASSERT_EQ(writes.size(), expected.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    const tbhost::PropertyWrite &w = writes[i];
    const Expected &e = expected[i];
    SCOPED_TRACE(what + ", write " + std::to_string(i) + " (" + e.name + ")");
    EXPECT_EQ(w.name, e.name);
    EXPECT_EQ(w.index, e.index);
    EXPECT_EQ(w.status, kOfxStatOK);
    ASSERT_EQ(w.type, e.type) << tbhost::propTypeName(w.type);
    switch (e.type) {
      case tbhost::PropType::String: EXPECT_EQ(w.stringValue, e.text); break;
      case tbhost::PropType::Int: EXPECT_EQ(w.intValue, e.integer); break;
      case tbhost::PropType::Double: EXPECT_EQ(w.doubleValue, e.number); break;
      case tbhost::PropType::Pointer: break;
    }
  }
}

}  // namespace boundary

#endif
