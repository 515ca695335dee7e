// Destroy frees the record even when the host cannot hand it back.
#include <gtest/gtest.h>

#include "host/Host.h"

namespace {

TEST(DestroyFaults, RecordIsFreedWhenItsPropertyCannotBeRead) {
  tbhost::Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK);
  tbhost::Instance a = host.createInstance(kOfxImageEffectContextGeneral);
  tbhost::Instance b = host.createInstance(kOfxImageEffectContextGeneral);
  ASSERT_EQ(host.memory().liveBlocks, 2);
  a.properties()->failCalls(kOfxPropInstanceData, kOfxStatErrUnknown);
  EXPECT_EQ(a.destroy(), kOfxStatOK);
  EXPECT_EQ(host.memory().liveBlocks, 1) << "the record of the failing instance is freed";
  // The other instance is untouched and still found through its property.
  EXPECT_NE(b.instanceData(), nullptr);
  EXPECT_EQ(b.destroy(), kOfxStatOK);
  EXPECT_EQ(host.memory().liveBlocks, 0);
  EXPECT_EQ(host.memory().badFrees, 0);
}

}  // namespace
