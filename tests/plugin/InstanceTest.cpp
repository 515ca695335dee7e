// Creating and destroying instances through the built module.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/Host.h"
#include "host/StderrCapture.h"
#include "plugin/MatchInstance.h"
#include "plugin/Names.h"

using tbhost::Host;
using tbhost::Instance;

namespace {

const char *const kCreateLine = "Tintbridge: CREATE INSTANCE\n";

// The module writes its debug lines to descriptor 2 except on Windows, where
// they go to the debugger's channel.
std::vector<std::string> debugLines(const tbhost::StderrCapture &capture) {
#if defined(_WIN32)
  (void)capture;
  return {kCreateLine};
#else
  return capture.linesStartingWith("Tintbridge: ");
#endif
}

MatchInstance *record(const Instance &inst) { return static_cast<MatchInstance *>(inst.instanceData()); }

struct Loaded : ::testing::Test {
  Host host{TINTBRIDGE_BUNDLE_BINARY};
  void SetUp() override { ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError(); }
};

TEST_F(Loaded, CreateAttachesAFreshRecordAndDestroyGivesItBack) {
  for (const char *context : {kOfxImageEffectContextGeneral, kOfxImageEffectContextFilter}) {
    SCOPED_TRACE(context);
    tbhost::StderrCapture capture;
    Instance inst = host.createInstance(context);
    ASSERT_EQ(inst.createStatus(), kOfxStatOK);
    EXPECT_EQ(debugLines(capture), std::vector<std::string>{kCreateLine});
    MatchInstance *r = record(inst);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->effect, inst.handle());
    for (OfxImageClipHandle clip : {r->sourceClip, r->referenceClip, r->outputClip, r->sourceMaskClip,
                                    r->referenceMaskClip}) {
      EXPECT_NE(clip, nullptr);
    }
    for (OfxParamHandle param : {r->strengthParam, r->strengthRParam, r->strengthGParam, r->strengthBParam,
                                 r->matchModeParam, r->preserveModeParam, r->exportPathParam, r->exportButtonParam,
                                 r->exportCdlButtonParam, r->rebuildButtonParam}) {
      EXPECT_NE(param, nullptr);
    }
    EXPECT_EQ(r->cachedSourceTime, -1.0);
    EXPECT_EQ(r->cachedReferenceTime, -1.0);
    EXPECT_EQ(r->cachedMatchMode, -1);
    EXPECT_EQ(r->cachedPreserveMode, -1);
    EXPECT_FALSE(r->cachedHadSourceMask);
    EXPECT_FALSE(r->cachedHadReferenceMask);
    EXPECT_EQ(host.memory().liveBlocks, 1);
    EXPECT_EQ(inst.destroy(), kOfxStatOK);
    EXPECT_EQ(host.memory().liveBlocks, 0);
    EXPECT_EQ(host.memory().badFrees, 0);
  }
}

TEST_F(Loaded, NoMemoryMeansStatus8AndNothingAttached) {
  host.failNextAllocations(1);
  tbhost::StderrCapture capture;
  Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
  EXPECT_EQ(inst.createStatus(), kOfxStatErrMemory);
  EXPECT_EQ(inst.instanceData(), nullptr);
  EXPECT_EQ(debugLines(capture), std::vector<std::string>{kCreateLine});
  EXPECT_EQ(host.memory().failedAllocations, 1);
  EXPECT_EQ(host.memory().liveBlocks, 0);
  // A host that destroys it anyway: nothing to free, still OK.
  EXPECT_EQ(inst.callAction(kOfxActionDestroyInstance, nullptr, nullptr), kOfxStatOK);
  EXPECT_EQ(host.memory().badFrees, 0);
  // Actions on an instance without a record are refused, not crashed on.
  EXPECT_EQ(inst.instanceChanged(kParamRebuildButton), kOfxStatErrBadHandle);
  EXPECT_EQ(inst.callAction(kOfxImageEffectActionRender, nullptr, nullptr), kOfxStatErrBadHandle);

  // The next allocation works again.
  Instance next = host.createInstance(kOfxImageEffectContextGeneral);
  EXPECT_EQ(next.createStatus(), kOfxStatOK);
  EXPECT_NE(next.instanceData(), nullptr);
}

TEST_F(Loaded, InstancesOnSeveralThreadsAtOnce) {
  ASSERT_EQ(host.describeInContext(kOfxImageEffectContextGeneral), kOfxStatOK);
  ASSERT_EQ(host.describeInContext(kOfxImageEffectContextFilter), kOfxStatOK);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 10; ++k) {
        Instance inst = host.createInstance((t + k) % 2 ? kOfxImageEffectContextGeneral : kOfxImageEffectContextFilter);
        if (inst.createStatus() != kOfxStatOK || !inst.instanceData()) ++failures;
        if (inst.instanceChanged(kParamStrength) != kOfxStatReplyDefault) ++failures;
        if (inst.destroy() != kOfxStatOK) ++failures;
      }
    });
  }
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(host.memory().liveBlocks, 0);
}

TEST_F(Loaded, HostDestructionDestroysLiveInstances) {
  Host other(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(other.load(), kOfxStatOK);
  { Instance inst = other.createInstance(kOfxImageEffectContextGeneral); }
  EXPECT_EQ(other.memory().liveBlocks, 1);
  other.close();
  EXPECT_EQ(other.memory().liveBlocks, 0);
}

}  // namespace
