// The render and is-identity actions: fetch the clips' images at the render
// time, read the parameters, find or build the LUT and map the render window.
#include "plugin/RenderAction.h"

#include <memory>

#include "lut/Mix.h"
#include "lut/PixelKernels.h"
#include "plugin/Analysis.h"
#include "plugin/ClipImages.h"
#include "plugin/HostSuites.h"
#include "plugin/LutCache.h"
#include "plugin/MatchInstance.h"
#include "plugin/Names.h"
#include "plugin/Params.h"

namespace {

enum { kSource, kReference, kOutput, kSourceMask, kReferenceMask, kImageCount };

// The five images of one render, each given back once however the render
// ends: in the order of a failed render, or of a finished one.
struct RenderImages {
  ClipImage images[kImageCount];
  bool finished = false;
  ~RenderImages() {
    static const int kFailed[kImageCount] = {kSource, kReference, kOutput, kSourceMask, kReferenceMask};
    static const int kFinished[kImageCount] = {kSource, kReference, kSourceMask, kReferenceMask, kOutput};
    for (int i : finished ? kFinished : kFailed) releaseImage(images[i]);
  }
};

}  // namespace

OfxStatus renderAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;

  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  int window[4] = {0, 0, 0, 0};
  props->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, window);
  double renderScale[2] = {1.0, 1.0};
  props->propGetDoubleN(inArgs, kOfxImageEffectPropRenderScale, 2, renderScale);

  const int matchMode = paramIntAt(instance->matchModeParam, time, 0);
  const int preserveMode = paramIntAt(instance->preserveModeParam, time, 0);
  // An analysis over several frames measures its frames before this render
  // holds any image of its own; the render then needs only Source and Output.
  const AnalysedLut analysed = analysedLut(*instance, time, renderScale, matchMode, preserveMode);
  if (analysed.outcome == AnalysisOutcome::Aborted) return kOfxStatOK;
  const bool perFrame = analysed.outcome == AnalysisOutcome::NotAnalysed;

  const OfxImageClipHandle clips[kImageCount] = {instance->sourceClip, instance->referenceClip, instance->outputClip,
                                                 instance->sourceMaskClip, instance->referenceMaskClip};
  RenderImages held;
  ClipImage *images = held.images;
  for (int i = 0; i < kImageCount; ++i)
    if (perFrame || i == kSource || i == kOutput) images[i].handle = fetchImage(clips[i], time);
  // The handle is kept in `held` until the read succeeds, so it is released
  // even when the read throws.
  for (int i = 0; i < kImageCount; ++i)
    images[i] = readImage(images[i].handle, i == kSourceMask || i == kReferenceMask);
  if (!images[kSource].usable || !images[kOutput].usable) return kOfxStatFailed;

  const double strength = paramDoubleAt(instance->strengthParam, time, 1.0);
  const double strengthR = paramDoubleAt(instance->strengthRParam, time, 1.0);
  const double strengthG = paramDoubleAt(instance->strengthGParam, time, 1.0);
  const double strengthB = paramDoubleAt(instance->strengthBParam, time, 1.0);
  BuildInputs in;
  in.time = time;
  in.matchMode = matchMode;
  in.preserveMode = preserveMode;
  in.hasSourceMask = images[kSourceMask].usable;
  in.hasReferenceMask = images[kReferenceMask].usable;
  in.sourceId = images[kSource].uniqueId;
  in.referenceId = images[kReference].uniqueId;
  if (in.hasSourceMask) in.sourceMaskId = images[kSourceMask].uniqueId;
  if (in.hasReferenceMask) in.referenceMaskId = images[kReferenceMask].uniqueId;
  // The match measures whole frames; one made from part of a frame (a host
  // that ignored the regions of interest) serves this render only.
  for (int i : {kSource, kReference, kSourceMask, kReferenceMask})
    if (images[i].usable && !coversClip(images[i], clips[i], time, renderScale)) in.keep = false;

  // At no mix the Source is written unchanged, as is-identity promises.
  const bool unchanged = strength <= 0.0;
  std::shared_ptr<MatchLut> lut = analysed.lut;
  if (perFrame && images[kReference].usable) {
    const BuildImages build = {&images[kSource], &images[kReference], &images[kSourceMask], &images[kReferenceMask]};
    lut = lutForRender(*instance, in, build);
  }

  // The part of the window that lies inside the output.
  const PixelImage &dst = images[kOutput].pixels;
  const int x1 = window[0] > dst.x1 ? window[0] : dst.x1;
  const int y1 = window[1] > dst.y1 ? window[1] : dst.y1;
  const int x2 = window[2] < dst.x2 ? window[2] : dst.x2;
  const int y2 = window[3] < dst.y2 ? window[3] : dst.y2;
  if (x2 > x1 && y2 > y1) {
    if (unchanged)
      copyImage(images[kSource].pixels, dst, x1, y1, x2, y2);
    else
      mapImage(images[kSource].pixels, dst, x1, y1, x2, y2, lut.get(),
               mixStrengths(strength, strengthR, strengthG, strengthB), images[kSource].premultiplied);
  }

  held.finished = true;
  return kOfxStatOK;
}

OfxStatus isIdentityAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  if (paramDoubleAt(instance->strengthParam, time, 1.0) <= 0.0) {
    props->propSetString(outArgs, kOfxPropName, 0, kClipSource);
    props->propSetDouble(outArgs, kOfxPropTime, 0, time);
    return kOfxStatOK;
  }
  return kOfxStatReplyDefault;
}
