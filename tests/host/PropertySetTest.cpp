// The host's property sets: what a plug-in sees through the property suite.
#include <gtest/gtest.h>

#include "host/PropertySet.h"

using tbhost::PropertySet;
using tbhost::PropType;

namespace {

const OfxPropertySuiteV1 &suite() { return *tbhost::propertySuite(); }

TEST(PropertySet, MissingWrongTypeAndBadIndexLeaveOutValuesAlone) {
  PropertySet set("closed");
  set.defineInt("count", {7});
  set.defineDouble("size", {1.0, 2.0});
  OfxPropertySetHandle h = set.handle();

  int i = 42;
  EXPECT_EQ(suite().propGetInt(h, "nothing", 0, &i), kOfxStatErrUnknown);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(suite().propGetInt(h, "size", 0, &i), kOfxStatErrUnknown);  // a double, read as int
  EXPECT_EQ(i, 42);
  EXPECT_EQ(suite().propGetInt(h, "count", 1, &i), kOfxStatErrBadIndex);
  EXPECT_EQ(suite().propGetInt(h, "count", -1, &i), kOfxStatErrBadIndex);
  EXPECT_EQ(i, 42);
  char *s = reinterpret_cast<char *>(&i);
  EXPECT_EQ(suite().propGetString(h, "count", 0, &s), kOfxStatErrUnknown);
  EXPECT_EQ(s, reinterpret_cast<char *>(&i));
  double d[3] = {9, 9, 9};
  EXPECT_EQ(suite().propGetDoubleN(h, "size", 3, d), kOfxStatErrBadIndex);
  EXPECT_EQ(d[0], 9.0);
  EXPECT_EQ(suite().propGetDoubleN(h, "size", 2, d), kOfxStatOK);
  EXPECT_EQ(d[1], 2.0);
  EXPECT_EQ(suite().propGetInt(h, nullptr, 0, &i), kOfxStatErrUnknown);
  EXPECT_EQ(suite().propGetInt(nullptr, "count", 0, &i), kOfxStatErrBadHandle);
  EXPECT_EQ(suite().propGetInt(h, "count", 0, &i), kOfxStatOK);
  EXPECT_EQ(i, 7);
}

TEST(PropertySet, ClosedSetsRefuseNewPropertiesOpenSetsCreateThem) {
  PropertySet closed("closed");
  EXPECT_EQ(suite().propSetInt(closed.handle(), "made", 0, 1), kOfxStatErrUnknown);
  EXPECT_FALSE(closed.has("made"));

  PropertySet open("open", true);
  EXPECT_EQ(suite().propSetString(open.handle(), "list", 2, "c"), kOfxStatOK);  // grows to 3
  EXPECT_EQ(open.dimension("list"), 3);
  EXPECT_EQ(open.getString("list", 2), "c");
  EXPECT_EQ(suite().propSetInt(open.handle(), "list", 0, 5), kOfxStatErrUnknown);  // type is fixed
  EXPECT_EQ(suite().propSetString(open.handle(), "list", 0, nullptr), kOfxStatErrValue);
}

TEST(PropertySet, FixedDimensionsAndReset) {
  PropertySet set("closed");
  set.defineInt("window", {0, 0, 4, 4});
  EXPECT_EQ(suite().propSetInt(set.handle(), "window", 4, 1), kOfxStatErrBadIndex);
  const int v[4] = {1, 2, 3, 4};
  EXPECT_EQ(suite().propSetIntN(set.handle(), "window", 4, v), kOfxStatOK);
  int dim = 0;
  EXPECT_EQ(suite().propGetDimension(set.handle(), "window", &dim), kOfxStatOK);
  EXPECT_EQ(dim, 4);
  EXPECT_EQ(set.getInts("window"), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(suite().propReset(set.handle(), "window"), kOfxStatOK);
  EXPECT_EQ(set.getInts("window"), (std::vector<int>{0, 0, 4, 4}));
}

TEST(PropertySet, RecordsWritesInOrderWithTypeIndexAndStatus) {
  PropertySet set("open", true);
  OfxPropertySetHandle h = set.handle();
  suite().propSetString(h, "a", 0, "x");
  suite().propSetDouble(h, "b", 0, 0.01);
  const char *const names[2] = {"p", "q"};
  suite().propSetStringN(h, "c", 2, names);
  suite().propSetInt(h, "a", 0, 3);  // wrong type: recorded with its status
  const auto w = set.writes();
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[0].name, "a");
  EXPECT_EQ(w[0].type, PropType::String);
  EXPECT_EQ(w[0].stringValue, "x");
  EXPECT_EQ(w[1].type, PropType::Double);
  EXPECT_EQ(w[1].doubleValue, 0.01);
  EXPECT_EQ(w[2].index, 0);
  EXPECT_EQ(w[3].index, 1);
  EXPECT_EQ(w[3].stringValue, "q");
  EXPECT_TRUE(w[3].bulk);
  EXPECT_EQ(w[4].type, PropType::Int);
  EXPECT_EQ(w[4].status, kOfxStatErrUnknown);
}

TEST(PropertySet, InjectedFaultsFailCallsWithoutEffect) {
  PropertySet set("closed");
  set.definePointer("data", {nullptr});
  set.defineInt("n", {1});
  set.failCalls("data", kOfxStatErrMemory, 1);
  int marker = 0;
  EXPECT_EQ(suite().propSetPointer(set.handle(), "data", 0, &marker), kOfxStatErrMemory);
  EXPECT_EQ(set.getPointer("data"), nullptr);
  EXPECT_EQ(suite().propSetPointer(set.handle(), "data", 0, &marker), kOfxStatOK);  // only once
  set.failCalls("", kOfxStatFailed);
  int n = 5;
  EXPECT_EQ(suite().propGetInt(set.handle(), "n", 0, &n), kOfxStatFailed);
  EXPECT_EQ(n, 5);
  set.clearFaults();
  EXPECT_EQ(suite().propGetInt(set.handle(), "n", 0, &n), kOfxStatOK);
  EXPECT_EQ(n, 1);
}

}  // namespace
