// Fault injection through the headless host: memory-suite allocations and
// heap allocations failing in turn, suites withheld, property and parameter
// calls failing, clips without images and exports that cannot be written.
// Every case must end with a defined status and the documented debug line or
// message, leave no memory-suite block behind, release every image once and
// leave earlier export files as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "fuzz/FaultySuites.h"
#include "host/Host.h"
#include "host/StderrCapture.h"
#include "match/LutBuilders.h"
#include "match/Scratch.h"
#include "plugin/DebugLog.h"
#include "support/ScratchFolder.h"
#include "plugin/LutCache.h"
#include "plugin/MatchInstance.h"
#include "plugin/Names.h"

// ---- Heap allocations that fail on request ----
//
// The module is loaded into this program, so its operator new is this one
// too. Armed, the nth allocation from then on fails (bad_alloc, or null for
// the nothrow forms).
namespace {
std::atomic<long> gNewCount{0};
std::atomic<long> gFailAt{0};  // 0: nothing armed
std::atomic<long> gNewFailures{0};
// Set while the host hands out or takes back an image, where its own
// allocations are left alone when `quietFetches` (see fetchQuietly).
thread_local bool tInHostFetch = false;

void *allocate(std::size_t size) {
  if (gFailAt.load() != 0 && !tInHostFetch && ++gNewCount == gFailAt.load()) {
    ++gNewFailures;
    return nullptr;
  }
  return std::malloc(size ? size : 1);
}

void armHeapFailure(long nth) {
  gNewCount = 0;
  gNewFailures = 0;
  gFailAt = nth;
}
void disarmHeapFailure() { gFailAt = 0; }
}  // namespace

// The replacements pair malloc with free by design; GCC cannot see that
// through inlining and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size) {
  void *p = allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void *operator new[](std::size_t size) {
  void *p = allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;
using tbhost::Host;
using tbhost::Image;
using tbhost::Instance;

const char kBundle[] = TINTBRIDGE_BUNDLE_BINARY;
const OfxRectI kWindow{0, 0, 8, 6};

std::shared_ptr<Image> gradient(float shift) {
  std::shared_ptr<Image> image = Image::rgbaFloat(8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      image->set(x, y, 0, std::fmod(0.1f * x + shift, 1.0f));
      image->set(x, y, 1, 0.15f * y);
      image->set(x, y, 2, 0.5f * shift + 0.05f * x);
      image->set(x, y, 3, 1.0f);
    }
  return image;
}

void giveImages(Instance &inst) {
  inst.setImage(kClipSource, gradient(0.1f));
  inst.setImage(kClipReference, gradient(0.45f));
  inst.setImage(kClipOutput, Image::rgbaFloat(8, 6));
}

std::vector<float> pixels(const Image &image) {
  std::vector<float> out;
  for (int y = image.bounds().y1; y < image.bounds().y2; ++y)
    for (int x = image.bounds().x1; x < image.bounds().x2; ++x)
      for (int c = 0; c < 4; ++c) out.push_back(image.get(x, y, c));
  return out;
}

// The output of an untroubled instance, to compare a recovered one with.
std::vector<float> referenceRender() {
  Host host(kBundle);
  Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
  giveImages(inst);
  EXPECT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
  return pixels(*inst.image(kClipOutput, 0.0));
}

// How an instance analyses: the choice, and what the host says of temporal
// clip access (1, 0, or -1 for not at all). The first is the plain setup of
// the tests above: one image a clip for every time. The others hold the
// Source at frames 0..3, the Reference without frame 3 and the Source mask
// without frame 0. Frame Range renders frame 1 from frames 0 and 3; the
// rolling window renders frame 0 from frames 0 and 1, cut at the clip's start.
struct Analysis {
  const char *name;
  int choice;
  int temporalAccess;
};
const Analysis kAnalyses[] = {{"every frame", kAnalysisEveryFrame, 1},
                              {"frame range", kAnalysisFrameRange, 1},
                              {"rolling window", kAnalysisRollingWindow, 1},
                              {"frame range, no temporal access", kAnalysisFrameRange, 0},
                              {"rolling window, temporal access not said", kAnalysisRollingWindow, -1}};

bool overFrames(const Analysis &a) { return a.choice != kAnalysisEveryFrame; }
double renderTime(const Analysis &a) { return a.choice == kAnalysisFrameRange ? 1.0 : 0.0; }

// Call before host.load().
void configureHost(Host &host, const Analysis &a) {
  if (a.temporalAccess < 0)
    host.hostProperties().remove(kOfxImageEffectPropTemporalClipAccess);
  else
    host.hostProperties().defineInt(kOfxImageEffectPropTemporalClipAccess, {a.temporalAccess});
}

// Frame t of an input clip; a mask's alpha varies over the picture.
std::shared_ptr<Image> frameImage(const std::string &clip, int t) {
  const bool mask = clip == kClipSourceMask || clip == kClipReferenceMask;
  std::shared_ptr<Image> image = gradient((clip == kClipSource || clip == kClipSourceMask ? 0.1f : 0.45f) + 0.04f * t);
  if (mask)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) image->set(x, y, 3, 0.1f * (x + y + t));
  return image;
}

// The frames 0..3 of a clip, but the one it goes without and `alsoWithheld`.
void giveFrames(Instance &inst, const std::string &clip, int alsoWithheld = -1) {
  const int withheld = clip == kClipReference ? 3 : clip == kClipSourceMask ? 0 : clip == kClipReferenceMask ? 2 : -1;
  for (int t = 0; t < 4; ++t)
    if (t != withheld && t != alsoWithheld) inst.setImage(clip, t, frameImage(clip, t));
}

void prepare(Instance &inst, const Analysis &a) {
  if (!overFrames(a)) {
    giveImages(inst);
    return;
  }
  giveFrames(inst, kClipSource);
  giveFrames(inst, kClipReference);
  giveFrames(inst, kClipSourceMask);
  inst.setImage(kClipOutput, Image::rgbaFloat(8, 6));
  inst.setParam(kParamAnalysis, a.choice);
  inst.setParam(kParamAnalysisEnd, 3);
  inst.setParam(kParamAnalysisFrames, 2);
  inst.setParam(kParamAnalysisWindow, 1);
}

// The output of an untroubled instance analysing as `a`; asserts that it read
// frames other than the rendered one exactly when the host allows it.
std::vector<float> referenceRender(const Analysis &a) {
  Host host(kBundle);
  configureHost(host, a);
  EXPECT_EQ(host.load(), kOfxStatOK);
  Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
  prepare(inst, a);
  EXPECT_EQ(inst.render(renderTime(a), kWindow), kOfxStatOK);
  bool otherFrames = false;
  for (const tbhost::ImageRecord &r : inst.fetchedImages()) otherFrames = otherFrames || r.time != renderTime(a);
  EXPECT_EQ(otherFrames, overFrames(a) && a.temporalAccess == 1) << a.name;
  return pixels(*inst.image(kClipOutput, renderTime(a)));
}

void expectLedgerBalanced(const Instance &inst) {
  const tbhost::LedgerStats ledger = inst.ledger();
  EXPECT_EQ(ledger.doubleReleases, 0);
  EXPECT_TRUE(ledger.outstanding.empty()) << ledger.outstanding.size() << " images not released";
  EXPECT_EQ(ledger.fetched, ledger.released);
}

bool contains(const std::vector<std::string> &lines, const std::string &line) {
  for (const std::string &l : lines)
    if (l == line) return true;
  return false;
}

std::string readAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

// ---- The memory suite ----

TEST(MemorySuiteFaults, EachAllocationFailingInTurnIsRefusedWithoutLeaks) {
  // Count the memory-suite allocations of two instance lives first.
  long allocations = 0;
  {
    Host host(kBundle);
    ASSERT_EQ(host.load(), kOfxStatOK);
    Instance a = host.createInstance(kOfxImageEffectContextGeneral);
    Instance b = host.createInstance(kOfxImageEffectContextGeneral);
    giveImages(a);
    ASSERT_EQ(a.render(0.0, kWindow), kOfxStatOK);
    a.destroy();
    b.destroy();
    allocations = host.memory().allocations;
    EXPECT_EQ(host.memory().liveBlocks, 0);
  }
  ASSERT_GT(allocations, 0);
  const std::vector<float> expected = referenceRender();
  for (long nth = 1; nth <= allocations; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    Host host(kBundle);
    ASSERT_EQ(host.load(), kOfxStatOK);
    host.failAllocation(nth);
    std::vector<std::string> lines;
    Instance made[2];
    {
      tbhost::StderrCapture capture;
      for (Instance &inst : made) inst = host.createInstance(kOfxImageEffectContextGeneral);
      lines = capture.lines();
    }
    EXPECT_EQ(host.memory().failedAllocations, 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Tintbridge: CREATE INSTANCE\n"), 2);
    int refused = 0;
    for (Instance &inst : made) {
      if (inst.createStatus() == kOfxStatErrMemory) {
        ++refused;
        EXPECT_EQ(inst.instanceData(), nullptr);
        continue;
      }
      ASSERT_EQ(inst.createStatus(), kOfxStatOK);
      // An instance that was created works as any other.
      giveImages(inst);
      EXPECT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
      EXPECT_EQ(pixels(*inst.image(kClipOutput, 0.0)), expected);
    }
    EXPECT_EQ(refused, 1);
    for (Instance &inst : made) inst.destroy();
    EXPECT_EQ(host.memory().liveBlocks, 0);
    EXPECT_EQ(host.memory().badFrees, 0);
  }
}

// ---- Heap allocations inside the module ----

// Runs `action` with the nth heap allocation failing, for n = 1, 2, ... until
// it runs through without one; returns the number of allocations injected.
// `action(n)` arms the failure itself around the call under test and
// returns whether an allocation failed.
// An image-effect suite in front of the host's whose image calls mark the
// host's own work, so that the heap faults over several frames fail the
// plug-in's allocations, not the host's dozens for each fetch: an image the
// host cannot make is a clip without an image, which ClipFaults covers.
// Install before host.load(); one host at a time.
struct QuietFetches {
  const void *(*hostFetch)(OfxPropertySetHandle, const char *, int) = nullptr;
  const OfxImageEffectSuiteV1 *effects = nullptr;
  OfxImageEffectSuiteV1 quiet;
};
QuietFetches gQuiet;

OfxStatus quietGetImage(OfxImageClipHandle clip, OfxTime time, const OfxRectD *region, OfxPropertySetHandle *image) {
  tInHostFetch = true;
  const OfxStatus status = gQuiet.effects->clipGetImage(clip, time, region, image);
  tInHostFetch = false;
  return status;
}

OfxStatus quietReleaseImage(OfxPropertySetHandle image) {
  tInHostFetch = true;
  const OfxStatus status = gQuiet.effects->clipReleaseImage(image);
  tInHostFetch = false;
  return status;
}

const void *fetchQuietly(OfxPropertySetHandle host, const char *name, int version) {
  const void *suite = gQuiet.hostFetch(host, name, version);
  if (suite == nullptr || name == nullptr || std::strcmp(name, kOfxImageEffectSuite) != 0) return suite;
  gQuiet.effects = static_cast<const OfxImageEffectSuiteV1 *>(suite);
  gQuiet.quiet = *gQuiet.effects;
  gQuiet.quiet.clipGetImage = quietGetImage;
  gQuiet.quiet.clipReleaseImage = quietReleaseImage;
  return &gQuiet.quiet;
}

void quietFetches(Host &host) {
  OfxHost *record = host.ofxHost();
  gQuiet.hostFetch = record->fetchSuite;
  record->fetchSuite = fetchQuietly;
}

template <class Action>
long failEachHeapAllocation(Action action) {
  long injected = 0;
  for (long nth = 1; nth < 100000; ++nth) {
    if (!action(nth)) break;
    ++injected;
  }
  return injected;
}

TEST(HeapFaults, RenderSurvivesEveryFailedAllocationAndRecovers) {
  for (const Analysis &a : kAnalyses) {
    // Without temporal access the render takes Every Frame's path before the
    // analysis allocates anything; the call and clip faults below cover it.
    if (a.temporalAccess != 1) continue;
    SCOPED_TRACE(a.name);
    const std::vector<float> expected = referenceRender(a);
    const double time = renderTime(a);
    Host host(kBundle);
    configureHost(host, a);
    if (overFrames(a)) quietFetches(host);
    ASSERT_EQ(host.load(), kOfxStatOK);
    Instance warm = host.createInstance(kOfxImageEffectContextGeneral);  // describes once, outside the faults
    warm.destroy();
    const long injected = failEachHeapAllocation([&](long nth) {
      SCOPED_TRACE("allocation " + std::to_string(nth));
      disarmHeapFailure();
      Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
      prepare(inst, a);
      tbhost::PropertySet in("inArgs");
      in.defineDouble(kOfxPropTime, {time});
      in.defineInt(kOfxImageEffectPropRenderWindow, {kWindow.x1, kWindow.y1, kWindow.x2, kWindow.y2});
      in.defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
      armHeapFailure(nth);
      const OfxStatus status = host.callAction(kOfxImageEffectActionRender, inst.handle(), &in, nullptr);
      const bool hit = gNewFailures.load() > 0;
      disarmHeapFailure();
      EXPECT_TRUE(status == kOfxStatOK || status == kOfxStatFailed || status == kOfxStatErrMemory ||
                  status == kOfxStatErrBadHandle)
          << status;
      expectLedgerBalanced(inst);
      EXPECT_TRUE(inst.image(kClipOutput, time)->outsideIntact());
      // Nothing lost: the next render gives what an untroubled instance gives.
      inst.instanceChanged(kParamRebuildButton);
      EXPECT_EQ(inst.render(time, kWindow), kOfxStatOK);
      EXPECT_EQ(pixels(*inst.image(kClipOutput, time)), expected);
      expectLedgerBalanced(inst);
      inst.destroy();
      return hit;
    });
    EXPECT_GT(injected, 0);
    std::printf("heap allocations failed in turn during render (%s): %ld\n", a.name, injected);
    EXPECT_EQ(host.memory().liveBlocks, 0);
  }
}

TEST(HeapFaults, ExportSurvivesEveryFailedAllocation) {
  ScratchFolder folder;
  Host host(kBundle);
  ASSERT_EQ(host.load(), kOfxStatOK);
  Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
  giveImages(inst);
  ASSERT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
  const std::string earlier = folder / "earlier.cube";
  inst.setParam(kParamExportPath, earlier);
  ASSERT_EQ(inst.instanceChanged(kParamExportButton), kOfxStatReplyDefault);
  const std::string earlierText = readAll(earlier);
  ASSERT_FALSE(earlierText.empty());

  const long injected = failEachHeapAllocation([&](long nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    disarmHeapFailure();
    const bool cube = nth % 2 == 0;
    inst.setParam(kParamExportPath, folder / (cube ? "again.cube" : "again.cdl"));
    tbhost::PropertySet in("inArgs");
    in.defineString(kOfxPropType, {kOfxTypeParameter});
    in.defineString(kOfxPropName, {cube ? "exportButton" : "exportCDLButton"});
    in.defineString(kOfxPropChangeReason, {kOfxChangeUserEdited});
    in.defineDouble(kOfxPropTime, {0.0});
    armHeapFailure(nth);
    const OfxStatus status = host.callAction(kOfxActionInstanceChanged, inst.handle(), &in, nullptr);
    const bool hit = gNewFailures.load() > 0;
    disarmHeapFailure();
    EXPECT_TRUE(status == kOfxStatReplyDefault || status == kOfxStatOK || status == kOfxStatErrMemory ||
                status == kOfxStatErrBadHandle)
        << status;
    EXPECT_EQ(readAll(earlier), earlierText);
    for (const std::string &name : folder.allNames()) EXPECT_NE(name.rfind(".Tintbridge-", 0), 0u) << name;
    return hit;
  });
  std::printf("heap allocations failed in turn during exports: %ld\n", injected);
  inst.destroy();
  EXPECT_EQ(host.memory().liveBlocks, 0);
}

namespace {
std::vector<std::string> gLines;
void keepLine(const char *line) { gLines.push_back(line); }
}  // namespace

TEST(HeapFaults, BuildersWithoutScratchMemoryStillLeaveAUsableGrid) {
  // In-process: the builders and the plug-in's LUT cache, with the scratch hook.
  std::shared_ptr<Image> src = gradient(0.1f), ref = gradient(0.6f);
  const ImageView s{static_cast<const float *>(src->data()), 8, 6, src->rowBytes(), 4};
  const ImageView r{static_cast<const float *>(ref->data()), 8, 6, ref->rowBytes(), 4};

  MatchLut smoothed, unsmoothed;
  ASSERT_TRUE(smoothed.allocate(17));
  ASSERT_TRUE(unsmoothed.allocate(17));
  EXPECT_TRUE(buildDifferentClipsLut(s, r, smoothed, 5.0f, 1, 0, nullptr, nullptr));
  failNextScratchAllocation();
  EXPECT_FALSE(buildDifferentClipsLut(s, r, unsmoothed, 5.0f, 1, 0, nullptr, nullptr));
  EXPECT_TRUE(unsmoothed.valid.load());
  for (int i = 0; i < 17 * 17 * 17 * 3; ++i) ASSERT_TRUE(std::isfinite(unsmoothed.data[i])) << i;

  MatchLut same;
  ASSERT_TRUE(same.allocate(17));
  failNextScratchAllocation();
  EXPECT_FALSE(buildSameFrameLut(s, r, same, 5.0f, 0));
  EXPECT_FALSE(same.valid.load()) << "a grid built without its scratch memory must not claim to match";
  for (int i = 0; i < 17 * 17 * 17 * 3; ++i) ASSERT_TRUE(std::isfinite(same.data[i])) << i;

  // The cache says why, once per build, and publishes what the builder left.
  setDebugLogSink(keepLine);
  const struct {
    int mode;
    const char *line;
    bool valid;
  } kCases[] = {{0, "Tintbridge: not enough memory to smooth the LUT, left unsmoothed\n", true},
                {1, "Tintbridge: not enough memory to build the Same Frame LUT\n", false}};
  for (const auto &c : kCases) {
    gLines.clear();
    MatchInstance instance{};
    ClipImage source, reference, none;
    source.pixels = PixelImage{static_cast<char *>(src->data()), src->rowBytes(), 0, 0, 8, 6, 8, 6, kDepthFloat, 4};
    reference.pixels = PixelImage{static_cast<char *>(ref->data()), ref->rowBytes(), 0, 0, 8, 6, 8, 6, kDepthFloat, 4};
    source.usable = reference.usable = true;
    BuildInputs in;
    in.time = 0.0;
    in.matchMode = c.mode;
    in.preserveMode = 0;
    in.hasSourceMask = in.hasReferenceMask = false;
    failNextScratchAllocation();
    const std::shared_ptr<MatchLut> lut = lutForRender(instance, in, BuildImages{&source, &reference, &none, &none});
    ASSERT_TRUE(lut) << c.mode;
    EXPECT_EQ(lut->valid.load(), c.valid) << c.mode;
    EXPECT_EQ(gLines, std::vector<std::string>{c.line}) << c.mode;
  }
  setDebugLogSink(nullptr);
}

// ---- Suites withheld ----

TEST(SuiteFaults, EachWithheldSuiteEndsInADefinedState) {
  ScratchFolder folder;
  const struct {
    const char *suite;
    OfxStatus load;
  } kCases[] = {{kOfxPropertySuite, kOfxStatErrMissingHostFeature},
                {kOfxImageEffectSuite, kOfxStatErrMissingHostFeature},
                {kOfxParameterSuite, kOfxStatErrMissingHostFeature},
                {kOfxMemorySuite, kOfxStatErrMissingHostFeature},
                {kOfxMultiThreadSuite, kOfxStatOK},
                {kOfxMessageSuite, kOfxStatOK}};
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.suite);
    Host host(kBundle);
    host.withholdSuite(c.suite);
    EXPECT_EQ(host.load(), c.load);
    Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
    if (c.load != kOfxStatOK) {
      EXPECT_FALSE(inst.valid() && inst.createStatus() == kOfxStatOK);
      EXPECT_EQ(host.memory().liveBlocks, 0);
      continue;
    }
    ASSERT_EQ(inst.createStatus(), kOfxStatOK);
    giveImages(inst);
    EXPECT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
    inst.setParam(kParamExportPath, folder / "withheld.cube");
    std::vector<std::string> lines;
    {
      tbhost::StderrCapture capture;
      EXPECT_EQ(inst.instanceChanged(kParamExportButton), kOfxStatReplyDefault);
      lines = capture.lines();
    }
    EXPECT_TRUE(contains(lines, "Tintbridge: Export successful\n"));
    EXPECT_EQ(host.messages().size(), std::string(c.suite) == kOfxMessageSuite ? 0u : 1u);
    EXPECT_TRUE(readAll(folder / "withheld.cube").find("LUT_3D_SIZE 65") != std::string::npos);
    inst.destroy();
    EXPECT_EQ(host.memory().liveBlocks, 0);
  }
}

// ---- Property and parameter calls failing ----

namespace {

// Counts the calls a clean run of `run` makes, then runs it again with each
// one failing in turn. Returns the number of calls failed.
template <class Arm, class Run>
long failEachCall(Arm arm, Run run) {
  faultysuites::disarm();
  const long before = faultysuites::state().propertyCalls.calls + faultysuites::state().parameterCalls.calls;
  run(0);
  const long total =
      faultysuites::state().propertyCalls.calls + faultysuites::state().parameterCalls.calls - before;
  long failed = 0;
  for (long nth = 1; nth <= total; ++nth) {
    arm(nth);
    const long was = faultysuites::failedCalls();
    run(nth);
    failed += faultysuites::failedCalls() - was;
    faultysuites::disarm();
  }
  return failed;
}

}  // namespace

namespace {

// Asks "OfxImageEffectActionGetFramesNeeded" at `time`; the ranges the host
// proposes are the one frame. Each clip's answer must stay a list of ranges.
OfxStatus askFramesNeeded(Instance &inst, double time) {
  tbhost::PropertySet in("inArgs"), out("outArgs");
  in.defineDouble(kOfxPropTime, {time});
  for (const char *clip : {kClipSource, kClipReference, kClipSourceMask, kClipReferenceMask})
    out.defineDouble(std::string(kOfxImageClipPropFrameRange) + clip, {time, time}, 0);
  const OfxStatus status = inst.callAction(kOfxImageEffectActionGetFramesNeeded, &in, &out);
  for (const char *clip : {kClipSource, kClipReference, kClipSourceMask, kClipReferenceMask}) {
    const std::vector<double> ranges = out.getDoubles(std::string(kOfxImageClipPropFrameRange) + clip);
    EXPECT_TRUE(!ranges.empty() && ranges.size() % 2 == 0) << clip << ": " << ranges.size() << " values";
    for (size_t i = 0; i + 1 < ranges.size(); i += 2)
      EXPECT_TRUE(std::isfinite(ranges[i]) && ranges[i] <= ranges[i + 1]) << clip << " " << ranges[i];
  }
  return status;
}

}  // namespace

TEST(CallFaults, RenderWithAnyPropertyOrParameterCallFailing) {
  for (const Analysis &a : kAnalyses) {
    if (a.temporalAccess < 0) continue;  // differs from a host that says 0 at load only
    SCOPED_TRACE(a.name);
    const std::vector<float> expected = referenceRender(a);
    const double time = renderTime(a);
    Host host(kBundle);
    configureHost(host, a);
    faultysuites::install(host);
    ASSERT_EQ(host.load(), kOfxStatOK);
    Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
    prepare(inst, a);
    auto run = [&](long nth) {
      SCOPED_TRACE("call " + std::to_string(nth));
      inst.instanceChanged(kParamRebuildButton);
      const OfxStatus status = inst.render(time, kWindow);
      EXPECT_TRUE(status == kOfxStatOK || status == kOfxStatFailed || status == kOfxStatErrBadHandle) << status;
      const OfxStatus needed = askFramesNeeded(inst, time);
      EXPECT_TRUE(needed == kOfxStatOK || needed == kOfxStatReplyDefault || needed == kOfxStatErrBadHandle)
          << needed;
      expectLedgerBalanced(inst);
      const std::shared_ptr<Image> out = inst.image(kClipOutput, time);
      EXPECT_TRUE(out->outsideIntact());
      for (float v : pixels(*out)) EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << v;
      // Once the calls answer again, so does the render, without a Refresh.
      faultysuites::disarm();
      EXPECT_EQ(inst.render(time, kWindow), kOfxStatOK);
      EXPECT_EQ(pixels(*out), expected);
      expectLedgerBalanced(inst);
    };
    long failed = failEachCall([](long nth) { faultysuites::failProperty(nth, 1); }, run);
    failed += failEachCall([](long nth) { faultysuites::failParameter(nth, 1, kOfxStatErrBadHandle); }, run);
    EXPECT_GT(failed, 0);
    std::printf("property and parameter calls failed in turn during render and frames needed (%s): %ld\n", a.name,
                failed);
    inst.destroy();
    EXPECT_EQ(host.memory().liveBlocks, 0);
  }
}

TEST(CallFaults, ExportWithAnyPropertyOrParameterCallFailing) {
  ScratchFolder folder;
  Host host(kBundle);
  faultysuites::install(host);
  ASSERT_EQ(host.load(), kOfxStatOK);
  Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
  giveImages(inst);
  ASSERT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
  const std::string earlier = folder / "earlier.cube";
  inst.setParam(kParamExportPath, earlier);
  ASSERT_EQ(inst.instanceChanged(kParamExportButton), kOfxStatReplyDefault);
  const std::string earlierText = readAll(earlier);
  auto run = [&](long nth) {
    SCOPED_TRACE("call " + std::to_string(nth));
    inst.setParam(kParamExportPath, folder / "next.cube");
    const OfxStatus status = inst.instanceChanged(nth % 2 ? "exportButton" : "exportCDLButton");
    EXPECT_TRUE(status == kOfxStatOK || status == kOfxStatReplyDefault || status == kOfxStatErrBadHandle)
        << status;
    EXPECT_EQ(readAll(earlier), earlierText);
    for (const std::string &name : folder.allNames()) EXPECT_NE(name.rfind(".Tintbridge-", 0), 0u) << name;
  };
  long failed = failEachCall([](long nth) { faultysuites::failProperty(nth, 1); }, run);
  failed += failEachCall([](long nth) { faultysuites::failParameter(nth, 1); }, run);
  std::printf("property and parameter calls failed in turn during exports: %ld\n", failed);
  inst.destroy();
  EXPECT_EQ(host.memory().liveBlocks, 0);
}

TEST(CallFaults, CreateWithAnyPropertyOrParameterCallFailing) {
  Host host(kBundle);
  faultysuites::install(host);
  ASSERT_EQ(host.load(), kOfxStatOK);
  host.createInstance(kOfxImageEffectContextGeneral).destroy();  // describes outside the faults
  auto run = [&](long nth) {
    SCOPED_TRACE("call " + std::to_string(nth));
    Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
    faultysuites::disarm();  // destroy itself must find the record to free it
    const OfxStatus status = inst.createStatus();
    EXPECT_TRUE(status == kOfxStatOK || status == kOfxStatFailed) << status;
    // A record is attached exactly when create reports success.
    EXPECT_EQ(inst.instanceData() != nullptr, status == kOfxStatOK);
    if (status == kOfxStatOK) {
      giveImages(inst);
      EXPECT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
    }
    inst.destroy();
    EXPECT_EQ(host.memory().liveBlocks, 0) << "the instance record was not given back";
  };
  const long failed = failEachCall([](long nth) { faultysuites::failProperty(nth, 1); }, run) +
                      failEachCall([](long nth) { faultysuites::failParameter(nth, 1); }, run);
  EXPECT_GT(failed, 0);
  std::printf("property and parameter calls failed in turn during create: %ld\n", failed);
}

// ---- Clips without images ----

TEST(ClipFaults, AnyClipWithoutAnImage) {
  static const char *const kClips[5] = {"Source", "Reference", "Output", "SourceMask", "ReferenceMask"};
  for (const Analysis &a : kAnalyses) {
    SCOPED_TRACE(a.name);
    Host host(kBundle);
    configureHost(host, a);
    ASSERT_EQ(host.load(), kOfxStatOK);
    const double time = renderTime(a);
    const bool temporal = overFrames(a) && a.temporalAccess == 1;
    // Over frames an input goes without an image everywhere, or at the
    // rendered frame only.
    for (bool everywhere : {true, false}) {
      if (!everywhere && !overFrames(a)) continue;
      SCOPED_TRACE(everywhere ? "everywhere" : "at the rendered frame");
      std::vector<float> whole;  // the output with no image missing
      for (int missing = 0; missing < 32; ++missing) {
        SCOPED_TRACE("missing set " + std::to_string(missing));
        Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
        prepare(inst, a);
        if (overFrames(a)) giveFrames(inst, kClipReferenceMask);
        std::shared_ptr<Image> output = inst.image(kClipOutput, time);
        for (int c = 0; c < 5; ++c) {
          if (!overFrames(a) && c >= 3 && !(missing & (1 << c))) inst.setImage(kClips[c], gradient(0.3f));
          if (!(missing & (1 << c))) continue;
          inst.clearImages(kClips[c]);
          if (!everywhere && c != 2) {
            giveFrames(inst, kClips[c], static_cast<int>(time));
          } else if (c == 2 || (missing & 1)) {
            // The host would make an Output image for a connected Output clip.
            inst.setClipConnected(kClips[c], false);
          }
        }
        const bool renderable = !(missing & 1) && !(missing & 4);
        const OfxStatus status = inst.render(time, kWindow);
        EXPECT_EQ(status, renderable ? kOfxStatOK : kOfxStatFailed);
        expectLedgerBalanced(inst);
        if (renderable && (missing & 2) && (everywhere || !temporal)) {
          // Without a Reference the output is the clamped Source.
          std::shared_ptr<Image> src = inst.image(kClipSource, time);
          for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x)
              for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(output->get(x, y, ch), src->get(x, y, ch));
        }
        if (missing == 0) whole = pixels(*output);
        // Frame Range does not measure the rendered frame: inputs missing
        // there, but the Source, change nothing.
        if (!everywhere && temporal && a.choice == kAnalysisFrameRange && renderable) {
          EXPECT_EQ(pixels(*output), whole);
        }
        inst.destroy();
      }
    }
    EXPECT_EQ(host.memory().liveBlocks, 0);
  }
}

// ---- Exports that cannot be written ----

namespace {

struct ExportOutcome {
  OfxStatus status;
  std::vector<std::string> lines;
  std::vector<tbhost::Message> messages;
};

ExportOutcome pressExport(Host &host, Instance &inst, const std::string &path, bool cube) {
  inst.setParam(kParamExportPath, path);
  host.clearMessages();
  ExportOutcome outcome;
  {
    tbhost::StderrCapture capture;
    outcome.status = inst.instanceChanged(cube ? "exportButton" : "exportCDLButton");
    outcome.lines = capture.lines();
  }
  outcome.messages = host.messages();
  return outcome;
}

void expectFailedExport(const ExportOutcome &outcome, bool cube) {
  EXPECT_EQ(outcome.status, kOfxStatReplyDefault);
  EXPECT_TRUE(contains(outcome.lines, cube ? "Tintbridge: Export FAILED\n" : "Tintbridge: CDL Export FAILED\n"));
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_EQ(outcome.messages[0].type, "OfxMessageError");
  EXPECT_EQ(outcome.messages[0].text, cube ? "Failed to save .cube file" : "Failed to save .cdl file");
}

}  // namespace

class ExportFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.load(), kOfxStatOK);
    inst = host.createInstance(kOfxImageEffectContextGeneral);
    giveImages(inst);
    ASSERT_EQ(inst.render(0.0, kWindow), kOfxStatOK);
    // Earlier exports that no failure may touch.
    for (bool cube : {true, false}) {
      const ExportOutcome ok = pressExport(host, inst, folder / "earlier.cube", cube);
      ASSERT_EQ(ok.status, kOfxStatReplyDefault);
    }
    earlierCube = readAll(folder / "earlier.cube");
    earlierCdl = readAll(folder / "earlier.cdl");
    ASSERT_NE(earlierCube.find("LUT_3D_SIZE 65"), std::string::npos);
    ASSERT_NE(earlierCdl.find("</ColorCorrectionCollection>"), std::string::npos);
  }
  void TearDown() override {
    EXPECT_EQ(readAll(folder / "earlier.cube"), earlierCube);
    EXPECT_EQ(readAll(folder / "earlier.cdl"), earlierCdl);
    for (const std::string &name : folder.allNames()) EXPECT_NE(name.rfind(".Tintbridge-", 0), 0u) << name;
    inst.destroy();
    EXPECT_EQ(host.memory().liveBlocks, 0);
  }
  void expectBothFail(const std::string &path) {
    for (bool cube : {true, false}) {
      SCOPED_TRACE(path + (cube ? " (cube)" : " (cdl)"));
      expectFailedExport(pressExport(host, inst, path, cube), cube);
    }
  }

  ScratchFolder folder;
  Host host{kBundle};
  Instance inst;
  std::string earlierCube, earlierCdl;
};

TEST_F(ExportFaults, FullDevice) {
#if defined(_WIN32)
  GTEST_SKIP() << "no /dev/full here";
#else
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full cannot be opened";
  // The path resolves to a link to the device: the export writes in place.
  fs::create_symlink("/dev/full", folder.path() / "full.cube");
  fs::create_symlink("/dev/full", folder.path() / "full.cdl");
  expectBothFail(folder / "full.cube");
#endif
}

TEST_F(ExportFaults, ReadOnlyFolder) {
#if defined(_WIN32)
  GTEST_SKIP() << "POSIX permissions only";
#else
  if (geteuid() != 0) {
    fs::create_directory(folder.path() / "locked");
    fs::permissions(folder.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    expectBothFail(folder / "locked/look.cube");
    expectBothFail(folder / "locked/");
  }
  // Root writes anywhere it has permission bits for; a folder on a read-only
  // file system refuses root too.
  if (access("/proc/self", F_OK) == 0) {
    expectBothFail("/proc/self/look.cube");
    expectBothFail("/proc/self/");
  } else if (geteuid() == 0) {
    GTEST_SKIP() << "running as root without /proc: no folder that is read-only for root";
  }
#endif
}

TEST_F(ExportFaults, PathThatIsAFolderOrUnderAFile) {
  fs::create_directory(folder.path() / "adir.cube");
  fs::create_directory(folder.path() / "adir.cdl");
  expectBothFail(folder / "adir.cube");
  std::ofstream(folder / "afile") << "not a folder\n";
  expectBothFail(folder / "afile/look.cube");
  expectBothFail(folder / "missing/folder/");
  EXPECT_EQ(readAll(folder / "afile"), "not a folder\n");
}

TEST_F(ExportFaults, OverwritingAnEarlierFileReplacesItWhole) {
  const ExportOutcome again = pressExport(host, inst, folder / "earlier.cube", true);
  EXPECT_EQ(again.status, kOfxStatReplyDefault);
  ASSERT_EQ(again.messages.size(), 1u);
  EXPECT_EQ(again.messages[0].text, "LUT saved to:\n" + (folder / "earlier.cube"));
  EXPECT_EQ(readAll(folder / "earlier.cube"), earlierCube);  // same LUT, same file
}
