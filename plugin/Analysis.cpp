#include "plugin/Analysis.h"

#include <cmath>
#include <memory>
#include <string>

#include "lut/FloatImage.h"
#include "match/ClipStats.h"
#include "match/LutBuilders.h"
#include "plugin/ClipImages.h"
#include "plugin/DebugLog.h"
#include "plugin/FrameMeasures.h"
#include "plugin/HostSuites.h"
#include "plugin/LutCache.h"
#include "plugin/MatchInstance.h"
#include "plugin/Names.h"
#include "plugin/Params.h"

namespace {

int clampInt(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// The settings besides the choice.
void readSettings(const MatchInstance &instance, double time, AnalysisSettings &s) {
  s.start = paramIntAt(instance.analysisStartParam, time, 0);
  s.end = paramIntAt(instance.analysisEndParam, time, 0);
  s.frames = paramIntAt(instance.analysisFramesParam, time, kAnalysisFramesDefault);
  s.window = paramIntAt(instance.analysisWindowParam, time, kAnalysisWindowDefault);
}

bool analyses(const AnalysisSettings &s) {
  return s.choice == kAnalysisFrameRange || s.choice == kAnalysisRollingWindow;
}

OfxPropertySetHandle clipProperties(OfxImageClipHandle clip) {
  OfxPropertySetHandle set = nullptr;
  if (clip != nullptr && gHostSuites.imageEffectSuite->clipGetPropertySet != nullptr)
    gHostSuites.imageEffectSuite->clipGetPropertySet(clip, &set);
  return set;
}

// The Source clip's frame range; unbounded when the host does not say.
void sourceRange(const MatchInstance &instance, double &first, double &last) {
  first = -HUGE_VAL;
  last = HUGE_VAL;
  OfxPropertySetHandle set = clipProperties(instance.sourceClip);
  double range[2] = {0.0, 0.0};
  if (set != nullptr &&
      gHostSuites.propertySuite->propGetDoubleN(set, kOfxImageEffectPropFrameRange, 2, range) == kOfxStatOK &&
      std::isfinite(range[0]) && std::isfinite(range[1]) && range[0] <= range[1]) {
    first = range[0];
    last = range[1];
  }
}

// Whether a mask clip is to be read: connected, or the host does not say.
bool maskWanted(OfxImageClipHandle clip) {
  if (clip == nullptr) return false;
  OfxPropertySetHandle set = clipProperties(clip);
  int connected = 1;
  if (set != nullptr) gHostSuites.propertySuite->propGetInt(set, kOfxImageClipPropConnected, 0, &connected);
  return connected != 0;
}

bool plan(const MatchInstance &instance, double time, AnalysisSettings &settings, AnalysisPlan &out) {
  // Every Frame renders ask for no more than the choice.
  if (!gHostSuites.temporalAccess) return false;
  settings.choice = paramIntAt(instance.analysisParam, time, kAnalysisEveryFrame);
  if (!analyses(settings)) return false;
  readSettings(instance, time, settings);
  double first, last;
  sourceRange(instance, first, last);
  planAnalysis(settings, time, first, last, out);
  return !out.frames.empty();
}

// An image fetched for measuring, given back when it goes out of scope.
struct HeldImage {
  ClipImage image;
  HeldImage(OfxImageClipHandle clip, double time, bool isMask) {
    image.handle = fetchImage(clip, time);
    try {
      image = readImage(image.handle, isMask);
    } catch (...) {
      releaseImage(image);  // a constructor that throws runs no destructor
      throw;
    }
  }
  ~HeldImage() { releaseImage(image); }
  HeldImage(const HeldImage &) = delete;
  HeldImage &operator=(const HeldImage &) = delete;
};

enum class Read { Absent, Ready, NoMemory };

// An image the host handed over that could not be read (a property it did
// not give) is missing for this render only: the frame is measured again.
bool unreadable(const HeldImage &held) { return held.image.handle != nullptr && !held.image.usable; }

// A fetched colour image as RGBA float (a view of the host's pixels when
// they already are), noting whether it covers its clip.
Read readFloat(const HeldImage &held, OfxImageClipHandle clip, double time, const double renderScale[2],
               bool &covers, FloatImage &out) {
  if (unreadable(held)) covers = false;
  if (!held.image.usable) return Read::Absent;
  if (!coversClip(held.image, clip, time, renderScale)) covers = false;
  return floatImage(held.image.pixels, 4, out, held.image.premultiplied) ? Read::Ready : Read::NoMemory;
}

// The samples of one clip at `time`, with its mask at the same time: those
// kept for the same pixels when there are, else taken now. The images are
// held until their samples are taken.
Read measureClip(FrameMeasureStore &store, const FrameMeasureKey &key, bool isReference, OfxImageClipHandle clip,
                 OfxImageClipHandle maskClip, bool useMask, const double renderScale[2], bool &covers,
                 ClipMeasure &out) {
  if (clip == nullptr) return Read::Absent;
  HeldImage image(clip, key.time, false);
  FloatImage pixels;
  const Read read = readFloat(image, clip, key.time, renderScale, covers, pixels);
  if (read != Read::Ready) return read;
  std::unique_ptr<HeldImage> mask;
  if (useMask && maskClip != nullptr) {
    mask = std::make_unique<HeldImage>(maskClip, key.time, true);
    if (unreadable(*mask)) covers = false;
    if (!mask->image.usable) mask.reset();
  }
  if (mask && !coversClip(mask->image, maskClip, key.time, renderScale)) covers = false;
  if (!image.image.uniqueId.empty())
    out.identity = image.image.uniqueId + '\n' + (mask ? mask->image.uniqueId : std::string("no mask"));
  if (mask && mask->image.uniqueId.empty()) out.identity.clear();
  out.samples = findSamples(store, key, isReference, out.identity);
  if (out.samples) return Read::Ready;
  auto samples = std::make_shared<ClipSamples>();
  if (mask) {
    FloatImage storage;
    MaskView view;
    if (!maskOver(mask->image, image.image, storage, view)) return Read::NoMemory;
    gatherClipSamples(pixels.view, kColorSpaceLab, &view, *samples);
  } else {
    gatherClipSamples(pixels.view, kColorSpaceLab, nullptr, *samples);
  }
  out.samples = std::move(samples);
  return Read::Ready;
}

// One frame measured; null without memory.
std::shared_ptr<const FrameMeasure> measureFrame(MatchInstance &instance, const FrameMeasureKey &key,
                                                 const double renderScale[2], bool &covers) {
  auto measure = std::make_shared<FrameMeasure>();
  if (key.matchMode == kMatchSameFrame) {
    if (instance.sourceClip == nullptr || instance.referenceClip == nullptr) return measure;
    HeldImage source(instance.sourceClip, key.time, false);
    FloatImage s;
    const Read a = readFloat(source, instance.sourceClip, key.time, renderScale, covers, s);
    if (a != Read::Ready) return a == Read::NoMemory ? nullptr : measure;
    HeldImage reference(instance.referenceClip, key.time, false);
    FloatImage r;
    const Read b = readFloat(reference, instance.referenceClip, key.time, renderScale, covers, r);
    if (b != Read::Ready) return b == Read::NoMemory ? nullptr : measure;
    gatherSameFramePairs(s.view, r.view, key.preserveMode,
                         source.image.premultiplied || reference.image.premultiplied, measure->pairs);
    measure->hasPairs = true;
    return measure;
  }
  if (measureClip(instance.measures, key, false, instance.sourceClip, instance.sourceMaskClip, key.sourceMask,
                  renderScale, covers, measure->source) == Read::NoMemory ||
      measureClip(instance.measures, key, true, instance.referenceClip, instance.referenceMaskClip, key.referenceMask,
                  renderScale, covers, measure->reference) == Read::NoMemory)
    return nullptr;
  return measure;
}

// Clears the instance's building mark however the build ends.
struct BuildingMark {
  MatchInstance &instance;
  ~BuildingMark() {
    {
      std::lock_guard<std::mutex> guard(instance.stateLock);
      instance.analysisBuilding = false;
    }
    instance.analysisDone.notify_all();
  }
};

bool matches(const MatchInstance &instance, const AnalysisKey &key) {
  return instance.lut && instance.lut->valid && instance.lut->data != nullptr && instance.cachedAnalysis == key;
}

AnalysisKey keyOf(const MatchInstance &instance, const AnalysisSettings &settings, const AnalysisPlan &frames,
                  double time, int matchMode, int preserveMode) {
  const bool sameFrame = matchMode == kMatchSameFrame;
  AnalysisKey key;
  key.choice = settings.choice;
  key.matchMode = matchMode;
  key.preserveMode = preserveMode;
  key.sourceMask = !sameFrame && maskWanted(instance.sourceMaskClip);
  key.referenceMask = !sameFrame && maskWanted(instance.referenceMaskClip);
  key.time = settings.choice == kAnalysisRollingWindow ? time : 0.0;
  key.frames = frames.frames;
  return key;
}

}  // namespace

bool framesToRead(MatchInstance &instance, double time, AnalysisPlan &out) {
  AnalysisSettings settings;
  if (plan(instance, time, settings, out)) {
    const AnalysisKey key = keyOf(instance, settings, out, time, paramIntAt(instance.matchModeParam, time, 0),
                                  paramIntAt(instance.preserveModeParam, time, 0));
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (!matches(instance, key)) return true;
  }
  out.frames.clear();
  out.weights.clear();
  return false;
}

float rollingWeight(double offset, int window) {
  const double pi = 3.14159265358979323846;
  return static_cast<float>(0.5 * (1.0 + std::cos(pi * offset / (window + 1.0))));
}

void planAnalysis(const AnalysisSettings &settings, double time, double first, double last, AnalysisPlan &plan) {
  plan.frames.clear();
  plan.weights.clear();
  if (settings.choice == kAnalysisFrameRange) {
    double a = settings.start, b = settings.end;
    if ((settings.start == 0 && settings.end == 0) || settings.start > settings.end) {
      a = first;
      b = last;
    }
    // A range too wide to span in a double gives no frames either.
    if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(b - a) || a > b) a = b = time;
    const int n = clampInt(settings.frames, 1, kAnalysisFramesMax);
    for (int k = 0; k < n; ++k) {
      const double step = n == 1 ? 0.5 : static_cast<double>(k) / (n - 1);
      const double frame = a + std::floor((b - a) * step + 0.5);
      if (!plan.frames.empty() && plan.frames.back() == frame) continue;
      plan.frames.push_back(frame);
      plan.weights.push_back(1.0f);
    }
  } else if (settings.choice == kAnalysisRollingWindow) {
    const int window = clampInt(settings.window, 1, kAnalysisWindowMax);
    for (int k = -window; k <= window; ++k) {
      const double frame = time + k;
      if (frame < first || frame > last) continue;
      plan.frames.push_back(frame);
      plan.weights.push_back(rollingWeight(k, window));
    }
  }
}

OfxStatus framesNeededAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  AnalysisSettings settings;
  AnalysisPlan frames;
  if (!plan(*instance, time, settings, frames)) return kOfxStatReplyDefault;

  // One-frame ranges for Frame Range, the window as one range for Rolling.
  std::vector<double> ranges;
  if (settings.choice == kAnalysisRollingWindow) {
    ranges = {frames.frames.front(), frames.frames.back()};
  } else {
    for (double f : frames.frames) ranges.insert(ranges.end(), {f, f});
  }
  // The Source is also needed at the render's own time, to be rendered.
  std::vector<double> sourceRanges = ranges;
  bool covered = false;
  for (size_t i = 0; i + 1 < ranges.size(); i += 2) covered = covered || (ranges[i] <= time && time <= ranges[i + 1]);
  if (!covered) {
    size_t at = 0;
    while (at < sourceRanges.size() && sourceRanges[at] < time) at += 2;
    sourceRanges.insert(sourceRanges.begin() + static_cast<std::ptrdiff_t>(at), {time, time});
  }
  for (const char *clip : {kClipSource, kClipReference, kClipSourceMask, kClipReferenceMask}) {
    const std::vector<double> &v = clip == kClipSource ? sourceRanges : ranges;
    const std::string name = std::string(kOfxImageClipPropFrameRange) + clip;
    props->propSetDoubleN(outArgs, name.c_str(), static_cast<int>(v.size()), v.data());
  }
  return kOfxStatOK;
}

AnalysedLut analysedLut(MatchInstance &instance, double time, const double renderScale[2], int matchMode,
                        int preserveMode) {
  AnalysedLut result;
  AnalysisSettings settings;
  AnalysisPlan frames;
  if (!plan(instance, time, settings, frames)) return result;

  const bool sameFrame = matchMode == kMatchSameFrame;
  const AnalysisKey key = keyOf(instance, settings, frames, time, matchMode, preserveMode);

  // One build at a time: a render that finds one under way waits for it,
  // and usually finds the LUT it needs when it wakes.
  uint64_t generation;
  {
    std::unique_lock<std::mutex> lock(instance.stateLock);
    for (;;) {
      if (matches(instance, key)) {
        result.outcome = AnalysisOutcome::Built;
        result.lut = instance.lut;
        return result;
      }
      if (!instance.analysisBuilding) break;
      instance.analysisDone.wait(lock);
    }
    instance.analysisBuilding = true;
    generation = instance.generation;
  }
  BuildingMark mark{instance};

  // Each frame's measurement, from the store or made now; the host's abort
  // is asked before every frame that has to be fetched.
  const OfxImageEffectSuiteV1 *fx = gHostSuites.imageEffectSuite;
  std::vector<std::shared_ptr<const FrameMeasure>> measures(frames.frames.size());
  bool keep = true;
  for (size_t i = 0; i < frames.frames.size(); ++i) {
    FrameMeasureKey frameKey;
    frameKey.time = frames.frames[i];
    frameKey.matchMode = matchMode;
    frameKey.preserveMode = sameFrame ? preserveMode : -1;
    frameKey.sourceMask = key.sourceMask;
    frameKey.referenceMask = key.referenceMask;
    frameKey.generation = generation;
    measures[i] = findMeasure(instance.measures, frameKey);
    if (measures[i]) continue;
    if (fx->abort != nullptr && fx->abort(instance.effect) != 0) {
      result.outcome = AnalysisOutcome::Aborted;
      return result;
    }
    bool covers = true;
    measures[i] = measureFrame(instance, frameKey, renderScale, covers);
    if (!measures[i]) {
      debugLog("Tintbridge: LUT allocation failed\n");
      result.outcome = AnalysisOutcome::Built;
      return result;
    }
    // A frame measured from part of its picture serves this render only.
    if (covers)
      keepMeasure(instance.measures, frameKey, measures[i]);
    else
      keep = false;
  }

  // Pool what the frames gave; nothing at all is left to Every Frame.
  std::vector<const ClipSamples *> sources, references;
  std::vector<const SampledPairs *> pairs;
  std::vector<float> sourceWeights, referenceWeights, pairWeights;
  for (size_t i = 0; i < measures.size(); ++i) {
    const FrameMeasure &m = *measures[i];
    const float w = frames.weights[i];
    if (m.source.samples) sources.push_back(m.source.samples.get()), sourceWeights.push_back(w);
    if (m.reference.samples) references.push_back(m.reference.samples.get()), referenceWeights.push_back(w);
    if (m.hasPairs) pairs.push_back(&m.pairs), pairWeights.push_back(w);
  }
  if (sameFrame ? pairs.empty() : (sources.empty() || references.empty())) return result;

  result.outcome = AnalysisOutcome::Built;
  std::shared_ptr<MatchLut> grid = takePooledLut(instance.lutPool);
  if (!grid || !grid->allocate(kMatchLutSize)) {
    debugLog("Tintbridge: LUT allocation failed\n");
    return result;
  }
  if (sameFrame) {
    if (!buildSameFrameLutFromPairs(pairs.data(), pairWeights.data(), static_cast<int>(pairs.size()), *grid,
                                    kLutSmoothing))
      debugLog("Tintbridge: not enough memory to build the Same Frame LUT\n");
  } else {
    ClipStats sourceStats, referenceStats;
    pooledClipStats(sources.data(), sourceWeights.data(), static_cast<int>(sources.size()), sourceStats);
    pooledClipStats(references.data(), referenceWeights.data(), static_cast<int>(references.size()),
                    referenceStats);
    if (!buildDifferentClipsLutFromStats(sourceStats, referenceStats, *grid, kLutSmoothing, kColorSpaceLab,
                                         preserveMode))
      debugLog("Tintbridge: not enough memory to smooth the LUT, left unsmoothed\n");
  }
  if (keep) publishAnalysedLut(instance, grid, key, generation);
  result.lut = grid;
  return result;
}
