// Fuzz target: loading and describing the plug-in, and a short life of one
// instance, against hosts that withhold any of the suites, and whose property
// and parameter calls fail from any call on, for any number of calls; with
// the host's temporal clip access on, off or not said, any analysis choice,
// and the frames-needed action among the instance's actions.
//
// Invariants: load refuses with kOfxStatErrMissingHostFeature exactly when
// the property, image-effect, parameter or memory suite is withheld, and the
// describe actions without the first three are answered by default;
// every status is one the plug-in documents; images are released exactly
// once; and every memory-suite block is freed by the time the instance is
// destroyed.
#include "fuzz/FaultySuites.h"
#include "fuzz/FuzzSupport.h"
#include "plugin/Names.h"

using namespace fuzzsupport;

namespace {

const char *const kSuites[6] = {kOfxPropertySuite, kOfxImageEffectSuite, kOfxParameterSuite,
                                kOfxMemorySuite,   kOfxMultiThreadSuite, kOfxMessageSuite};

OfxStatus pickStatus(FuzzedDataProvider &fdp) {
  static const OfxStatus kStatuses[] = {kOfxStatFailed,    kOfxStatErrUnknown, kOfxStatErrBadHandle,
                                        kOfxStatErrBadIndex, kOfxStatErrValue,   kOfxStatErrMemory};
  return kStatuses[fdp.ConsumeIntegralInRange<int>(0, 5)];
}

bool oneOf(OfxStatus s, std::initializer_list<OfxStatus> allowed) {
  for (OfxStatus a : allowed)
    if (s == a) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  scratchFolder();
  tbhost::Host h(bundleBinary());
  faultysuites::install(h);
  bool withheld[6];
  for (int i = 0; i < 6; ++i) {
    withheld[i] = fdp.ConsumeIntegralInRange<int>(0, 5) == 0;
    if (withheld[i]) h.withholdSuite(kSuites[i]);
  }
  if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) h.withholdSuite(fdp.ConsumeRandomLengthString(24));
  switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: h.hostProperties().defineInt(kOfxImageEffectPropTemporalClipAccess, {0}); break;
    case 1: h.hostProperties().remove(kOfxImageEffectPropTemporalClipAccess); break;
    default: break;
  }
  if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) h.hostProperties().failCalls("", pickStatus(fdp));
  const bool faultProperties = fdp.ConsumeBool();
  const bool faultParameters = fdp.ConsumeBool();
  const long propertyFrom = fdp.ConsumeIntegralInRange<long>(1, 400);
  const long propertyCount = fdp.ConsumeIntegralInRange<long>(-1, 6);
  const long parameterFrom = fdp.ConsumeIntegralInRange<long>(1, 40);
  const long parameterCount = fdp.ConsumeIntegralInRange<long>(-1, 4);
  const OfxStatus why = pickStatus(fdp);
  if (faultProperties) faultysuites::failProperty(propertyFrom, propertyCount == 0 ? 1 : propertyCount, why);
  if (faultParameters) faultysuites::failParameter(parameterFrom, parameterCount == 0 ? 1 : parameterCount, why);

  const bool essentialMissing = withheld[0] || withheld[1] || withheld[2] || withheld[3];
  const OfxStatus load = h.load();
  FUZZ_CHECK(load == (essentialMissing ? kOfxStatErrMissingHostFeature : kOfxStatOK), "load returned %d", load);

  // Describing needs only the property, image-effect and parameter suites.
  const bool describable = !(withheld[0] || withheld[1] || withheld[2]);
  const OfxStatus describe = h.describe();
  if (!describable) {
    FUZZ_CHECK(describe == kOfxStatReplyDefault, "describe after a failed load returned %d", describe);
  } else {
    FUZZ_CHECK(describe == kOfxStatOK, "describe returned %d", describe);
  }
  static const char *const kContexts[] = {kOfxImageEffectContextGeneral, kOfxImageEffectContextFilter, "", "x"};
  const std::string context = fdp.ConsumeIntegralInRange<int>(0, 5) == 0 ? fdp.ConsumeRandomLengthString(32)
                                                                         : kContexts[fdp.ConsumeIntegralInRange<int>(0, 3)];
  const OfxStatus inContext = h.describeInContext(context);
  FUZZ_CHECK(inContext == (describable ? kOfxStatOK : kOfxStatReplyDefault), "describe in context returned %d",
             inContext);

  if (!essentialMissing) {
    tbhost::Instance inst = h.createInstance(kOfxImageEffectContextGeneral);
    FUZZ_CHECK(inst.valid() || oneOf(inst.createStatus(), {kOfxStatErrMemory, kOfxStatFailed}),
               "create instance returned %d", inst.createStatus());
    if (inst.valid()) {
      // Failed: the record could not be attached (a property call failed).
      FUZZ_CHECK(oneOf(inst.createStatus(), {kOfxStatOK, kOfxStatErrMemory, kOfxStatFailed}),
                 "create instance returned %d", inst.createStatus());
      std::shared_ptr<tbhost::Image> src = tbhost::Image::rgbaFloat(5, 3);
      src->fill(0.2f, 0.5f, 0.7f, 1.0f);
      std::shared_ptr<tbhost::Image> ref = tbhost::Image::rgbaFloat(4, 4);
      ref->fill(0.6f, 0.4f, 0.1f, 1.0f);
      inst.setImage(kClipSource, src);
      inst.setImage(kClipReference, ref);
      inst.setParam(kParamAnalysis, fdp.ConsumeIntegralInRange<int>(-1, 3));
      inst.setParam(kParamAnalysisFrames, fdp.ConsumeIntegralInRange<int>(0, 4));
      inst.setParam(kParamAnalysisWindow, fdp.ConsumeIntegralInRange<int>(0, 2));
      const int actions = fdp.ConsumeIntegralInRange<int>(0, 6);
      for (int a = 0; a < actions; ++a) {
        switch (fdp.ConsumeIntegralInRange<int>(0, 4)) {
          case 0: {
            const OfxStatus s = inst.render(0.0, OfxRectI{0, 0, 5, 3});
            FUZZ_CHECK(oneOf(s, {kOfxStatOK, kOfxStatFailed, kOfxStatErrBadHandle}), "render returned %d", s);
            std::shared_ptr<tbhost::Image> out = inst.image(kClipOutput, 0.0);
            if (out) FUZZ_CHECK(out->outsideIntact(), "a write outside the output");
            break;
          }
          case 1: {
            inst.setParam(kParamExportPath, scratchFolder() + "/load.cube");
            const OfxStatus s = inst.instanceChanged(fdp.ConsumeBool() ? "exportButton" : "exportCDLButton");
            FUZZ_CHECK(oneOf(s, {kOfxStatOK, kOfxStatReplyDefault, kOfxStatErrBadHandle}), "export returned %d", s);
            break;
          }
          case 2: {
            const OfxStatus s = inst.instanceChanged(fdp.ConsumeBool() ? "rebuildButton" : "Source", kOfxTypeClip);
            FUZZ_CHECK(oneOf(s, {kOfxStatReplyDefault, kOfxStatErrBadHandle}), "change returned %d", s);
            break;
          }
          case 3: {
            tbhost::PropertySet in("inArgs"), out("outArgs");
            in.defineDouble(kOfxPropTime, {static_cast<double>(fdp.ConsumeIntegralInRange<int>(-1, 3))});
            for (const char *clip : {kClipSource, kClipReference, kClipSourceMask, kClipReferenceMask})
              out.defineDouble(std::string(kOfxImageClipPropFrameRange) + clip, {0.0, 0.0}, 0);
            const OfxStatus s = inst.callAction(kOfxImageEffectActionGetFramesNeeded, &in, &out);
            FUZZ_CHECK(oneOf(s, {kOfxStatOK, kOfxStatReplyDefault, kOfxStatErrBadHandle}), "frames needed returned %d",
                       s);
            break;
          }
          default: {
            const tbhost::IdentityResult id = inst.isIdentity(0.0, OfxRectI{0, 0, 5, 3});
            FUZZ_CHECK(oneOf(id.status, {kOfxStatOK, kOfxStatReplyDefault, kOfxStatErrBadHandle}),
                       "is identity returned %d", id.status);
            break;
          }
        }
        const tbhost::LedgerStats ledger = inst.ledger();
        FUZZ_CHECK(ledger.doubleReleases == 0 && ledger.outstanding.empty(), "images not released exactly once");
      }
      // A destroy whose look-up of the record fails cannot free it: the
      // faults end before it.
      faultysuites::disarm();
      FUZZ_CHECK(inst.destroy() == kOfxStatOK, "destroy failed");
    }
  }
  faultysuites::disarm();
  const tbhost::MemoryStats memory = h.memory();
  FUZZ_CHECK(memory.liveBlocks == 0, "%ld memory-suite blocks left after destroy", memory.liveBlocks);
  FUZZ_CHECK(memory.badFrees == 0 && h.badImageReleases() == 0, "a bad free or release");
  return 0;
}
