// The host against a small plug-in of our own: loading, suites, parameters,
// images, the image ledger, memory faults, re-entrant instance changes and
// concurrent renders.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "HostFixture.h"
#include "host/Host.h"
#include "host/StderrCapture.h"

using tbhost::Components;
using tbhost::Host;
using tbhost::Image;
using tbhost::Instance;
using tbhost::PixelDepth;
using hosttest::fetch;
using hosttest::Fixture;
using hosttest::kGeneral;

namespace {

TEST(HostLoading, RefusesMissingBinariesAndRecordsFetches) {
  Host missing("/nonexistent/Nothing.ofx");
  EXPECT_NE(missing.load(), kOfxStatOK);
  EXPECT_NE(missing.lastError().find("Nothing.ofx"), std::string::npos);

  Host host(FAKE_PLUGIN_BINARY);
  host.withholdSuite(kOfxMemorySuite);
  EXPECT_EQ(host.load(), kOfxStatErrMissingHostFeature);
  const auto fetches = host.fetches();
  ASSERT_EQ(fetches.size(), 5u);
  EXPECT_EQ(fetches[3].name, kOfxMemorySuite);
  EXPECT_FALSE(fetches[3].given);
  EXPECT_TRUE(fetches[0].given);
  OfxHost *h = host.ofxHost();
  EXPECT_EQ(h->fetchSuite(h->host, kOfxPropertySuite, 2), nullptr);
  EXPECT_EQ(h->fetchSuite(h->host, kOfxPropertySuite, 1), h->fetchSuite(h->host, kOfxPropertySuite, 1));
  host.provideSuite(kOfxMemorySuite);
  EXPECT_EQ(host.load(), kOfxStatOK);
}

TEST(HostLoading, BundleDirectoriesResolveToTheirBinary) {
  EXPECT_EQ(Host::resolveBinaryPath("/no/such/X.ofx"), "/no/such/X.ofx");
  const std::filesystem::path bundle(TINTBRIDGE_BUILD_BUNDLE);
  const std::filesystem::path binary(Host::resolveBinaryPath(bundle.string() + "/"));
  EXPECT_EQ(binary, bundle / "Contents" / TINTBRIDGE_OFX_ARCH / "Bridgetint.ofx");
  EXPECT_TRUE(std::filesystem::exists(binary));
}

TEST_F(Fixture, DescriptionIsRecordedInOrder) {
  Instance inst = host.createInstance(kGeneral);
  ASSERT_EQ(inst.createStatus(), kOfxStatOK);
  const auto defs = host.definitions(kGeneral);
  ASSERT_EQ(defs.size(), 11u);
  EXPECT_EQ(defs[0].name, "Source");
  EXPECT_EQ(defs[1].name, "Output");
  EXPECT_EQ(defs[2].paramType, kOfxParamTypeDouble);
  EXPECT_EQ(defs[7].name, "colour");
  const auto writes = defs[7].properties->writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[3].doubleValue, 0.4);
  EXPECT_EQ(host.descriptor()->getString(kOfxPropLabel), "Fake");
  EXPECT_EQ(host.contextDescriptor(kGeneral)->getString(kOfxImageEffectPropContext), kGeneral);
  // Instances start from the defaults.
  EXPECT_EQ(inst.paramDouble("gain"), 0.5);
  EXPECT_EQ(inst.paramInt("count"), 3);
  EXPECT_EQ(inst.paramString("name"), "abc");
  EXPECT_EQ(inst.paramValues("colour"), (std::vector<double>{0.1, 0.2, 0.3, 0.4}));
  EXPECT_NE(inst.instanceData(), nullptr);
  EXPECT_EQ(host.memory().liveBlocks, 1);
  EXPECT_EQ(inst.destroy(), kOfxStatOK);
  EXPECT_EQ(host.memory().liveBlocks, 0);
}

TEST_F(Fixture, VariadicValuesFollowTheParameterType) {
  Instance inst = host.createInstance(kGeneral);
  double d = -1;
  int i = -1;
  const char *s = nullptr;
  EXPECT_EQ(params->paramGetValue(param(inst, "gain"), &d), kOfxStatOK);
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(params->paramGetValue(param(inst, "mode"), &i), kOfxStatOK);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(params->paramGetValue(param(inst, "name"), &s), kOfxStatOK);
  EXPECT_STREQ(s, "abc");
  double r, g, b, a;
  EXPECT_EQ(params->paramGetValue(param(inst, "colour"), &r, &g, &b, &a), kOfxStatOK);
  EXPECT_EQ(a, 0.4);
  EXPECT_EQ(params->paramGetValue(param(inst, "colour"), &r, &g, &b, nullptr), kOfxStatErrValue);
  EXPECT_EQ(params->paramGetValue(param(inst, "press"), &d), kOfxStatErrUnsupported);

  EXPECT_EQ(params->paramSetValue(param(inst, "count"), 9), kOfxStatOK);
  EXPECT_EQ(params->paramSetValue(param(inst, "flag"), 7), kOfxStatOK);
  EXPECT_EQ(params->paramSetValue(param(inst, "offset"), 1.5, -2.5), kOfxStatOK);
  EXPECT_EQ(params->paramSetValue(param(inst, "name"), "new"), kOfxStatOK);
  EXPECT_EQ(params->paramSetValue(param(inst, "name"), static_cast<const char *>(nullptr)), kOfxStatErrValue);
  EXPECT_EQ(inst.paramInt("count"), 9);
  EXPECT_EQ(inst.paramInt("flag"), 1);
  EXPECT_EQ(inst.paramValues("offset"), (std::vector<double>{1.5, -2.5}));
  EXPECT_STREQ(s, "abc");  // texts handed out earlier stay valid
  EXPECT_EQ(inst.paramString("name"), "new");
  EXPECT_EQ(params->paramGetValue(nullptr, &d), kOfxStatErrBadHandle);
}

TEST_F(Fixture, ValuesVaryWithTime) {
  Instance inst = host.createInstance(kGeneral);
  inst.setParamAt("gain", 0.0, 0.0);
  inst.setParamAt("gain", 10.0, 1.0);
  inst.setParamAt("mode", 5.0, 2.0);
  double d = -1;
  int i = -1;
  EXPECT_EQ(params->paramGetValueAtTime(param(inst, "gain"), 2.5, &d), kOfxStatOK);
  EXPECT_DOUBLE_EQ(d, 0.25);
  EXPECT_EQ(params->paramGetValueAtTime(param(inst, "gain"), 20.0, &d), kOfxStatOK);
  EXPECT_EQ(d, 1.0);
  EXPECT_EQ(params->paramGetValueAtTime(param(inst, "mode"), 4.0, &i), kOfxStatOK);
  EXPECT_EQ(i, 2);  // before the first key: the first key's value
  unsigned int keys = 0;
  EXPECT_EQ(params->paramGetNumKeys(param(inst, "gain"), &keys), kOfxStatOK);
  EXPECT_EQ(keys, 2u);
  EXPECT_EQ(params->paramGetDerivative(param(inst, "gain"), 5.0, &d), kOfxStatOK);
  EXPECT_DOUBLE_EQ(d, 0.1);
  EXPECT_EQ(params->paramGetIntegral(param(inst, "gain"), 0.0, 10.0, &d), kOfxStatOK);
  EXPECT_NEAR(d, 5.0, 1e-9);
}

TEST_F(Fixture, PluginEditsComeBackAsReentrantChangesOnTheSameThread) {
  Instance inst = host.createInstance(kGeneral);
  EXPECT_EQ(inst.instanceChanged("press"), kOfxStatOK);
  const auto changes = host.changes();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].name, "press");
  EXPECT_EQ(changes[0].depth, 0);
  EXPECT_EQ(changes[1].name, "target");
  EXPECT_EQ(changes[1].type, kOfxTypeParameter);
  EXPECT_EQ(changes[1].reason, kOfxChangePluginEdited);
  EXPECT_EQ(changes[1].depth, 1);
  EXPECT_EQ(changes[1].status, kOfxStatReplyDefault);
  EXPECT_EQ(changes[2].name, "name");
  EXPECT_EQ(inst.paramDouble("target"), 2.5);
  EXPECT_EQ(inst.paramString("name"), "pressed");
  const auto messages = host.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].type, kOfxMessageMessage);
  EXPECT_TRUE(messages[0].idWasNull);
  EXPECT_EQ(messages[0].text, "pressed 3");  // formatted after the two nested changes
}

TEST_F(Fixture, FailingMemoryAndCreateStatus) {
  host.failNextAllocations(1);
  Instance failed = host.createInstance(kGeneral);
  EXPECT_EQ(failed.createStatus(), kOfxStatErrMemory);
  EXPECT_EQ(failed.instanceData(), nullptr);
  EXPECT_EQ(host.memory().failedAllocations, 1);
  host.failAllocation(2);
  Instance first = host.createInstance(kGeneral);
  Instance second = host.createInstance(kGeneral);
  EXPECT_EQ(first.createStatus(), kOfxStatOK);
  EXPECT_EQ(second.createStatus(), kOfxStatErrMemory);
  EXPECT_EQ(host.memory().liveBlocks, 1);
  const OfxMemorySuiteV1 *memory = fetch<OfxMemorySuiteV1>(host, kOfxMemorySuite);
  int local = 0;
  EXPECT_EQ(memory->memoryFree(&local), kOfxStatErrBadHandle);
  EXPECT_EQ(host.memory().badFrees, 1);
}

TEST_F(Fixture, RendersOddGeometryAndKeepsTheLedger) {
  Instance inst = host.createInstance(kGeneral);
  tbhost::ImageLayout layout;
  layout.rowPadding = 12;
  layout.negativeRowBytes = true;
  auto source = Image::create(PixelDepth::Float, Components::RGBA, OfxRectI{-3, 5, 7, 9}, layout);
  for (int y = 5; y < 9; ++y)
    for (int x = -3; x < 7; ++x) source->set(x, y, 0, static_cast<float>(x * 10 + y));
  auto output = Image::create(PixelDepth::Float, Components::RGBA, OfxRectI{-3, 5, 7, 9}, layout);
  EXPECT_LT(source->rowBytes(), 0);
  inst.setImage("Source", 1.0, source);
  inst.setImage("Output", 1.0, output);
  inst.setParam("gain", 2.0);
  EXPECT_EQ(inst.render(1.0, OfxRectI{-3, 5, 7, 9}), kOfxStatOK);
  EXPECT_EQ(output->get(-3, 5, 0), 2.0f * (-30 + 5));
  EXPECT_EQ(output->get(6, 8, 0), 2.0f * (60 + 8));
  EXPECT_TRUE(output->outsideIntact());
  auto ledger = inst.ledger();
  EXPECT_EQ(ledger.fetched, 2);
  EXPECT_EQ(ledger.released, 2);
  EXPECT_TRUE(ledger.outstanding.empty());

  EXPECT_EQ(inst.render(2.0, OfxRectI{0, 0, 1, 1}), kOfxStatFailed);  // no Source at time 2
  inst.setParam("mode", 1);
  EXPECT_EQ(inst.render(1.0, OfxRectI{0, 5, 1, 6}), kOfxStatOK);
  ledger = inst.ledger();
  ASSERT_EQ(ledger.outstanding.size(), 1u);
  EXPECT_EQ(ledger.outstanding[0].substr(0, 7), "Source@");
  inst.setParam("mode", 2);
  EXPECT_EQ(inst.render(1.0, OfxRectI{0, 5, 1, 6}), kOfxStatOK);
  EXPECT_EQ(inst.ledger().doubleReleases, 1);

  inst.setClipConnected("Source", false);
  EXPECT_EQ(inst.render(1.0, OfxRectI{0, 5, 1, 6}), kOfxStatFailed);
}

TEST_F(Fixture, OutputIsMadeWhenMissingAndIdentityReportsOutArgs) {
  Instance inst = host.createInstance(kGeneral);
  inst.setImage("Source", Image::create(PixelDepth::Float, Components::RGBA, OfxRectI{2, 2, 6, 6}));
  EXPECT_EQ(inst.render(3.0, OfxRectI{2, 2, 6, 6}), kOfxStatOK);
  auto made = inst.image("Output", 3.0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->bounds().x1, 2);
  EXPECT_EQ(inst.isIdentity(0.0, OfxRectI{0, 0, 1, 1}).status, kOfxStatReplyDefault);
  inst.setParam("gain", 0.0);
  const auto id = inst.isIdentity(4.0, OfxRectI{0, 0, 1, 1});
  EXPECT_EQ(id.status, kOfxStatOK);
  EXPECT_EQ(id.clip, "Source");
  EXPECT_EQ(id.time, 4.0);  // preset by the host
}

TEST_F(Fixture, SeveralThreadsRenderOneInstance) {
  Instance inst = host.createInstance(kGeneral);
  auto source = Image::rgbaFloat(64, 64);
  source->fill(0.25f, 0.5f, 0.75f, 1.0f);
  auto output = Image::rgbaFloat(64, 64);
  inst.setImage("Source", source);
  inst.setImage("Output", output);
  inst.setParam("gain", 2.0);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 20; ++k) {
        if (inst.render(static_cast<double>(k), OfxRectI{0, t * 16, 64, t * 16 + 16}) != kOfxStatOK) ++failures;
      }
    });
  }
  for (auto &th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(output->get(63, 63, 2), 1.5f);
  EXPECT_EQ(inst.ledger().outstanding.size(), 0u);
  EXPECT_EQ(inst.ledger().fetched, 4 * 20 * 2);
}

TEST(HostSuites, MultiThreadSuiteRunsThreadsAndLocks) {
  Host host(FAKE_PLUGIN_BINARY);
  const OfxMultiThreadSuiteV1 *mt = fetch<OfxMultiThreadSuiteV1>(host, kOfxMultiThreadSuite);
  ASSERT_NE(mt, nullptr);
  struct Arg {
    const OfxMultiThreadSuiteV1 *mt;
    std::atomic<unsigned> seen{0};
    std::atomic<int> spawned{0};
    std::atomic<int> nested{0};
  } arg;
  arg.mt = mt;
  auto fn = [](unsigned index, unsigned max, void *p) {
    Arg &a = *static_cast<Arg *>(p);
    unsigned self = 99;
    a.mt->multiThreadIndex(&self);
    if (self == index && max == 3) a.seen |= 1u << index;
    a.spawned += a.mt->multiThreadIsSpawnedThread();
    if (a.mt->multiThread([](unsigned, unsigned, void *) {}, 2, nullptr) == kOfxStatErrExists) ++a.nested;
  };
  EXPECT_EQ(mt->multiThread(fn, 3, &arg), kOfxStatOK);
  EXPECT_EQ(arg.seen.load(), 7u);
  EXPECT_EQ(arg.spawned.load(), 3);
  EXPECT_EQ(arg.nested.load(), 3);
  EXPECT_EQ(mt->multiThreadIsSpawnedThread(), 0);

  OfxMutexHandle m = nullptr;
  ASSERT_EQ(mt->mutexCreate(&m, 1), kOfxStatOK);
  EXPECT_EQ(mt->mutexLock(m), kOfxStatOK);  // recursive
  int tried = -1;
  std::thread([&] { tried = mt->mutexTryLock(m); }).join();
  EXPECT_EQ(tried, kOfxStatFailed);
  EXPECT_EQ(mt->mutexUnLock(m), kOfxStatOK);
  EXPECT_EQ(mt->mutexUnLock(m), kOfxStatOK);
  std::thread([&] {
    tried = mt->mutexTryLock(m);
    mt->mutexUnLock(m);
  }).join();
  EXPECT_EQ(tried, kOfxStatOK);
  EXPECT_EQ(mt->mutexDestroy(m), kOfxStatOK);
}

TEST(HostSuites, StderrCaptureReturnsWholeLines) {
  tbhost::StderrCapture capture;
  ASSERT_TRUE(capture.active());
  std::fputs("first line\n", stderr);
  std::fputs("Tintbridge: second\npartial", stderr);
  std::fflush(stderr);
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Tintbridge: second\n");
  EXPECT_EQ(lines[2], "partial");
  EXPECT_EQ(capture.linesStartingWith("Tintbridge: ").size(), 1u);
}

}  // namespace

namespace {

TEST(HostSuites, ImageMemoryIsAlignedAndRefusesStaleHandles) {
  Host host(FAKE_PLUGIN_BINARY);
  const OfxImageEffectSuiteV1 *effects = fetch<OfxImageEffectSuiteV1>(host, kOfxImageEffectSuite);
  OfxImageMemoryHandle memory = nullptr;
  ASSERT_EQ(effects->imageMemoryAlloc(nullptr, 1000, &memory), kOfxStatOK);
  void *data = nullptr;
  ASSERT_EQ(effects->imageMemoryLock(memory, &data), kOfxStatOK);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
  std::memset(data, 0x5a, 1000);
  EXPECT_EQ(effects->imageMemoryUnlock(memory), kOfxStatOK);
  EXPECT_EQ(effects->imageMemoryFree(memory), kOfxStatOK);
  EXPECT_EQ(effects->imageMemoryFree(nullptr), kOfxStatErrBadHandle);
  EXPECT_EQ(effects->imageMemoryAlloc(nullptr, SIZE_MAX, &memory), kOfxStatErrMemory);
}

}  // namespace
