// Fuzz target: the render and is-identity actions on images of any geometry,
// depth and component count, with awkward pixel and parameter values, render
// windows inside and outside the images, masks present or absent, both match
// modes and every preserve mode; inputs for every time, for time 0 only, or
// per frame over frames 0..3 with frames withheld; the analysis choice and
// its frames, range and window (out-of-range values too), the Source clip's
// frame range, and a host whose temporal clip access is on, off or not said;
// and the frames-needed action at any time.
//
// Invariants checked after every render: the status follows from the images
// given; every fetched image was released exactly once; nothing was written
// outside any image, outside the render window, or into an input at any
// frame; the output is finite and within [0, 1] wherever the Source was; for
// a channel whose strength is 0 the output is the clamped Source; at a master
// mix of 0 or less it is the Source as it is; and the host's memory blocks
// are all given back at destroy. Where the render analyses the one frame
// (Every Frame, or a host without temporal access) it fetches images at its
// own time only, and without a Reference the output is the clamped Source.
// Frames needed: the host's default unless an analysis over several frames
// applies; else ordered, finite ranges, the rendered frame among the
// Source's, no more frames than asked for, a rolling window within its
// reach.
#include "fuzz/FuzzSupport.h"
#include "plugin/Names.h"

using namespace fuzzsupport;
using tbhost::Image;
using tbhost::Instance;

namespace {

const char *const kClips[5] = {"Source", "Reference", "Output", "SourceMask", "ReferenceMask"};
enum { kSource, kReference, kOutput, kSourceMask, kReferenceMask };

// The host is rebuilt now and then: it keeps every instance it ever made.
// Its temporal clip access: 1 or 0 as said, -1 not said at all; the load
// action runs again when it changes, as the plug-in reads it there.
tbhost::Host &host(int temporalAccess) {
  static std::unique_ptr<tbhost::Host> h;
  static int uses = 0;
  static int loadedWith = 1;
  if (!h || ++uses > 200) {
    h.reset();
    h.reset(new tbhost::Host(bundleBinary()));
    if (h->load() != kOfxStatOK) fail("the bundle does not load: %s", h->lastError().c_str());
    uses = 0;
    loadedWith = 1;
  }
  if (temporalAccess != loadedWith) {
    if (temporalAccess < 0)
      h->hostProperties().remove(kOfxImageEffectPropTemporalClipAccess);
    else
      h->hostProperties().defineInt(kOfxImageEffectPropTemporalClipAccess, {temporalAccess});
    FUZZ_CHECK(h->callAction(kOfxActionLoad, nullptr, nullptr, nullptr) == kOfxStatOK, "reload failed");
    loadedWith = temporalAccess;
  }
  return *h;
}

constexpr int kFrames = 4;

struct ClipSetup {
  enum Kind { AnyTime, AtZero, PerFrame };
  Kind kind = AnyTime;
  std::shared_ptr<Image> image;            // AnyTime, AtZero; PerFrame: the first one
  std::shared_ptr<Image> frames[kFrames];  // PerFrame: frame t's image, or none
};

std::shared_ptr<Image> imageAt(const ClipSetup &clip, double time) {
  switch (clip.kind) {
    case ClipSetup::AnyTime: return clip.image;
    case ClipSetup::AtZero: return time == 0.0 ? clip.image : nullptr;
    case ClipSetup::PerFrame:
      for (int t = 0; t < kFrames; ++t)
        if (time == t) return clip.frames[t];
      return nullptr;
  }
  return nullptr;
}

bool usableColour(const std::shared_ptr<Image> &image) {
  return image && image->data() != nullptr && image->components() != tbhost::Components::Alpha;
}

// An input the host hands over in a format its clip supports: an Alpha
// picture on a colour clip arrives as RGB(A).
bool usableInput(const std::shared_ptr<Image> &image) { return image && image->data() != nullptr; }

double pickTime(FuzzedDataProvider &fdp) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return 1.0;
    case 1: return std::numeric_limits<double>::quiet_NaN();
    case 2: return -1.0;
    case 3: return 2.5;
    case 4: return 2.0;
    case 5: return 3.0;
    default: return 0.0;
  }
}

// A value of an analysis parameter: mostly within `lo`..`hi`, now and then
// any int.
int pickSetting(FuzzedDataProvider &fdp, int lo, int hi) {
  return fdp.ConsumeIntegralInRange<int>(0, 3) == 0 ? specialInt(fdp) : fdp.ConsumeIntegralInRange<int>(lo, hi);
}

void pickAnalysis(FuzzedDataProvider &fdp, Instance &inst) {
  inst.setParam(kParamAnalysis, pickSetting(fdp, 0, 2));
  inst.setParam(kParamAnalysisStart, fdp.ConsumeBool() ? 0 : pickSetting(fdp, -2, 5));
  inst.setParam(kParamAnalysisEnd, fdp.ConsumeBool() ? 0 : pickSetting(fdp, -2, 5));
  inst.setParam(kParamAnalysisFrames, pickSetting(fdp, 1, 5));
  inst.setParam(kParamAnalysisWindow, pickSetting(fdp, 1, 3));
}

// Whether a render at `time` may analyse several frames.
bool overFrames(const Instance &inst, bool temporal, double time) {
  const int choice = inst.paramInt(kParamAnalysis, time);
  return temporal && (choice == kAnalysisFrameRange || choice == kAnalysisRollingWindow);
}

int clampSetting(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// "OfxImageEffectActionGetFramesNeeded" at `time`, with the host's default
// (the one frame) in the out-arguments.
void checkFramesNeeded(Instance &inst, bool temporal, double time) {
  static const char *const kInputs[4] = {"Source", "Reference", "SourceMask", "ReferenceMask"};
  tbhost::PropertySet in("inArgs"), out("outArgs");
  in.defineDouble(kOfxPropTime, {time});
  for (const char *clip : kInputs) out.defineDouble(std::string(kOfxImageClipPropFrameRange) + clip, {time, time}, 0);
  const OfxStatus status = inst.callAction(kOfxImageEffectActionGetFramesNeeded, &in, &out);
  if (!overFrames(inst, temporal, time)) {
    FUZZ_CHECK(status == kOfxStatReplyDefault && out.writes().empty(),
               "frames needed at %g without an analysis over frames returned %d and wrote %zu values", time, status,
               out.writes().size());
    return;
  }
  FUZZ_CHECK(status == kOfxStatOK || status == kOfxStatReplyDefault, "frames needed at %g returned %d", time, status);
  if (status != kOfxStatOK || !std::isfinite(time)) return;
  const int choice = inst.paramInt(kParamAnalysis, time);
  const int frames = clampSetting(inst.paramInt(kParamAnalysisFrames, time), 1, 250);
  const int window = clampSetting(inst.paramInt(kParamAnalysisWindow, time), 1, 100);
  const std::vector<double> analysed = out.getDoubles(std::string(kOfxImageClipPropFrameRange) + "Reference");
  for (const char *clip : kInputs) {
    const std::vector<double> r = out.getDoubles(std::string(kOfxImageClipPropFrameRange) + clip);
    const bool source = std::strcmp(clip, "Source") == 0;
    FUZZ_CHECK(!r.empty() && r.size() % 2 == 0, "frames needed gave %s %zu values", clip, r.size());
    if (!source)
      FUZZ_CHECK(r == analysed, "frames needed gave %s other frames than the Reference", clip);
    bool atTime = false;
    for (size_t i = 0; i < r.size(); i += 2) {
      FUZZ_CHECK(std::isfinite(r[i]) && std::isfinite(r[i + 1]) && r[i] <= r[i + 1] && (i == 0 || r[i - 1] <= r[i]),
                 "frames needed at %g gave %s the range %g..%g", time, clip, r[i], r[i + 1]);
      atTime = atTime || (r[i] <= time && time <= r[i + 1]);
      if (!source && choice == kAnalysisRollingWindow)
        FUZZ_CHECK(r[i] >= time - window && r[i + 1] <= time + window, "a window of %d at %g asks %g..%g", window,
                   time, r[i], r[i + 1]);
    }
    if (source) FUZZ_CHECK(atTime, "frames needed at %g leaves out the Source at that frame", time);
    if (!source && choice == kAnalysisFrameRange)
      FUZZ_CHECK(r.size() <= 2u * frames, "frames needed asks %zu frames of %d", r.size() / 2, frames);
  }
}

OfxRectI pickWindow(FuzzedDataProvider &fdp, const std::shared_ptr<Image> &output) {
  if (output && fdp.ConsumeBool()) {
    if (fdp.ConsumeBool()) return output->bounds();
    OfxRectI w = output->bounds();
    w.x1 += fdp.ConsumeIntegralInRange<int>(-3, 3);
    w.y1 += fdp.ConsumeIntegralInRange<int>(-3, 3);
    w.x2 += fdp.ConsumeIntegralInRange<int>(-3, 3);
    w.y2 += fdp.ConsumeIntegralInRange<int>(-3, 3);
    return w;
  }
  OfxRectI w;
  w.x1 = fdp.ConsumeIntegralInRange<int>(-12, 24);
  w.y1 = fdp.ConsumeIntegralInRange<int>(-12, 24);
  w.x2 = fdp.ConsumeIntegralInRange<int>(-12, 30);
  w.y2 = fdp.ConsumeIntegralInRange<int>(-12, 30);
  if (fdp.ConsumeIntegralInRange<int>(0, 15) == 0) {
    w.x1 = std::numeric_limits<int>::min();
    w.x2 = std::numeric_limits<int>::max();
  }
  return w;
}

// Values the strength of a channel mixes with: the product clamped to [0, 1],
// a NaN becoming 1, as the render loop does.
float mixStrength(double channel, double master) { return clampUnit(static_cast<float>(channel * master)); }

void checkLedger(const Instance &inst, const tbhost::Host &h) {
  const tbhost::LedgerStats ledger = inst.ledger();
  FUZZ_CHECK(ledger.doubleReleases == 0, "%ld images released twice", ledger.doubleReleases);
  FUZZ_CHECK(ledger.outstanding.empty() && ledger.fetched == ledger.released, "%ld images fetched, %ld released",
             ledger.fetched, ledger.released);
  FUZZ_CHECK(h.badImageReleases() == 0, "a release of something that was not a fetched image");
}

void checkOutput(const Image &out, const std::vector<unsigned char> &before, const OfxRectI &window,
                 const std::shared_ptr<Image> &src, bool rendered, bool referenceUsed, const float strengths[3],
                 bool unchanged) {
  const OfxRectI b = out.bounds();
  const int outChannels = tbhost::componentCount(out.components());
  const size_t bpp = static_cast<size_t>(out.bytesPerPixel());
  const size_t rowBytes = static_cast<size_t>(out.width()) * bpp;
  const bool exact = out.depth() == tbhost::PixelDepth::Float && src && src->depth() == tbhost::PixelDepth::Float;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      const bool inWindow = x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
      const unsigned char *now = out.pixelAddress(x, y);
      const unsigned char *was = before.data() + static_cast<size_t>(y - b.y1) * rowBytes + (x - b.x1) * bpp;
      if (!inWindow || !rendered) {
        FUZZ_CHECK(std::memcmp(now, was, bpp) == 0, "output pixel (%d, %d) outside the window changed", x, y);
        continue;
      }
      if (out.depth() != tbhost::PixelDepth::Float) continue;  // always within range
      float o[4];
      for (int c = 0; c < outChannels; ++c) o[c] = out.get(x, y, c);
      if (!src->contains(x, y)) {
        for (int c = 0; c < outChannels; ++c)
          FUZZ_CHECK(inUnit(o[c]), "output (%d, %d) channel %d is %g where the Source has no pixel", x, y, c,
                     static_cast<double>(o[c]));
        continue;
      }
      const int srcChannels = tbhost::componentCount(src->components());
      float s[4];
      for (int c = 0; c < srcChannels; ++c) s[c] = src->get(x, y, c);
      if (unchanged) {
        // A master mix of 0 or less writes the Source as it is.
        for (int c = 0; c < 3 && exact; ++c)
          FUZZ_CHECK(sameFloat(o[c], s[c]), "output (%d, %d) channel %d is %g, not the Source's %g at no mix", x, y,
                     c, static_cast<double>(o[c]), static_cast<double>(s[c]));
        continue;
      }
      if (inUnit(s[0]) && inUnit(s[1]) && inUnit(s[2])) {
        for (int c = 0; c < 3; ++c)
          FUZZ_CHECK(inUnit(o[c]), "output (%d, %d) channel %d is %g for a Source of (%g, %g, %g)", x, y, c,
                     static_cast<double>(o[c]), static_cast<double>(s[0]), static_cast<double>(s[1]),
                     static_cast<double>(s[2]));
      }
      if (outChannels == 4) {
        if (srcChannels == 4) {
          if (inUnit(s[3])) FUZZ_CHECK(inUnit(o[3]), "output alpha %g for a Source alpha %g", o[3], s[3]);
          if (exact) FUZZ_CHECK(sameFloat(o[3], s[3]), "alpha %g is not the Source's %g", o[3], s[3]);
        } else {
          FUZZ_CHECK(o[3] == 1.0f, "alpha %g from an RGB Source", static_cast<double>(o[3]));
        }
      }
      if (!exact) continue;
      for (int c = 0; c < 3; ++c) {
        if (!referenceUsed || strengths[c] == 0.0f) {
          FUZZ_CHECK(sameFloat(o[c], clampUnit(s[c])), "output (%d, %d) channel %d is %g, not the clamped Source %g",
                     x, y, c, static_cast<double>(o[c]), static_cast<double>(clampUnit(s[c])));
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const int temporalAccess = fdp.ConsumeIntegralInRange<int>(0, 3) != 0 ? 1 : fdp.ConsumeBool() ? 0 : -1;
  const bool temporal = temporalAccess == 1;
  tbhost::Host &h = host(temporalAccess);
  const long liveBefore = h.memory().liveBlocks;
  Instance inst = h.createInstance(kOfxImageEffectContextGeneral);
  FUZZ_CHECK(inst.valid() && inst.createStatus() == kOfxStatOK, "create instance failed: %d", inst.createStatus());

  ClipSetup clips[5];
  std::vector<std::shared_ptr<Image>> inputs;  // every input image at every frame
  for (int i = 0; i < 5; ++i) {
    const bool colour = i == kSource || i == kReference || i == kOutput;
    const bool present = colour ? fdp.ConsumeIntegralInRange<int>(0, 7) != 0 : fdp.ConsumeBool();
    if (!present) continue;
    ClipSetup &clip = clips[i];
    clip.image = imageFromFuzz(fdp, i == kOutput ? 20 : 16);
    if (i != kOutput) {
      const int kind = fdp.ConsumeIntegralInRange<int>(0, 5);
      clip.kind = kind == 0 ? ClipSetup::AtZero : kind <= 2 ? ClipSetup::PerFrame : ClipSetup::AnyTime;
    }
    if (clip.kind == ClipSetup::AnyTime) {
      inst.setImage(kClips[i], clip.image);
    } else if (clip.kind == ClipSetup::AtZero) {
      inst.setImage(kClips[i], 0.0, clip.image);
    } else {
      // Frame by frame: the first image, another one, or none.
      for (int t = 0; t < kFrames; ++t) {
        const int which = fdp.ConsumeIntegralInRange<int>(0, 3);
        if (which == 0) continue;
        clip.frames[t] = which == 1 ? clip.image : imageFromFuzz(fdp, 16);
        inst.setImage(kClips[i], t, clip.frames[t]);
        if (clip.frames[t] != clip.image) inputs.push_back(clip.frames[t]);
      }
    }
    if (i != kOutput) inputs.push_back(clip.image);
  }
  // The Source clip's frame range, which a Frame Range of 0..0 and a rolling
  // window follow: the host's 0..100, or any pair, the widest, or none.
  switch (fdp.ConsumeIntegralInRange<int>(0, 8)) {
    case 0:
      inst.clipProperties(kClips[kSource])->remove("OfxImageEffectPropFrameRange");
      break;
    case 1:
      inst.clipProperties(kClips[kSource])->defineDouble("OfxImageEffectPropFrameRange",
                                                          {specialDouble(fdp), specialDouble(fdp)});
      break;
    case 2:
      inst.clipProperties(kClips[kSource])->defineDouble(
          "OfxImageEffectPropFrameRange",
          {static_cast<double>(fdp.ConsumeIntegralInRange<int>(-2, 3)),
           static_cast<double>(fdp.ConsumeIntegralInRange<int>(-2, 3))});
      break;
    case 3:
      inst.clipProperties(kClips[kSource])->defineDouble(
          "OfxImageEffectPropFrameRange",
          {-std::numeric_limits<double>::max(), std::numeric_limits<double>::max()});
      break;
    default:
      break;
  }
  if (clips[kOutput].image == nullptr) {
    // The host makes an Output image at render; give it a fixed one instead
    // so that the checks below have it.
    clips[kOutput].image = Image::create(tbhost::PixelDepth::Float, tbhost::Components::RGBA, OfxRectI{-2, -2, 9, 7});
    inst.setImage(kClips[kOutput], clips[kOutput].image);
  }

  const int renders = fdp.ConsumeIntegralInRange<int>(1, 3);
  for (int r = 0; r < renders; ++r) {
    double strength[4];
    static const char *const kStrengths[4] = {"strength", "strengthR", "strengthG", "strengthB"};
    if (r == 0 || fdp.ConsumeBool()) {
      for (int c = 0; c < 4; ++c) {
        const double v = fdp.ConsumeIntegralInRange<int>(0, 2) == 0 ? specialDouble(fdp) : 1.0;
        inst.setParam(kStrengths[c], v);
      }
      inst.setParam(kParamMatchMode, fdp.ConsumeBool() ? specialInt(fdp) : fdp.ConsumeIntegralInRange<int>(0, 1));
      inst.setParam(kParamPreserveMode, fdp.ConsumeBool() ? specialInt(fdp) : fdp.ConsumeIntegralInRange<int>(0, 2));
      pickAnalysis(fdp, inst);
    }
    double time = pickTime(fdp);
    // The host looks images up by exact time, which a NaN time does not
    // match reliably: NaN times only for clips that hold one image for all.
    bool timed = false;
    for (const ClipSetup &c : clips) timed = timed || (c.image && c.kind != ClipSetup::AnyTime);
    if (timed && std::isnan(time)) time = 3.0;
    for (int c = 0; c < 4; ++c) strength[c] = inst.paramDouble(kStrengths[c], time);
    const float mix[3] = {mixStrength(strength[1], strength[0]), mixStrength(strength[2], strength[0]),
                          mixStrength(strength[3], strength[0])};

    tbhost::RenderArgs args;
    args.time = time;
    args.window = pickWindow(fdp, clips[kOutput].image);
    OfxRectI window = args.window;
    switch (fdp.ConsumeIntegralInRange<int>(0, 9)) {
      case 0:
        args.editInArgs = [](tbhost::PropertySet &in) { in.remove(kOfxImageEffectPropRenderWindow); };
        window = OfxRectI{0, 0, 0, 0};
        break;
      case 1:
        args.editInArgs = [](tbhost::PropertySet &in) {
          in.failCalls(kOfxImageEffectPropRenderWindow, kOfxStatErrUnknown);
        };
        window = OfxRectI{0, 0, 0, 0};
        break;
      case 2:
        // Without a time the render takes time 0.
        args.editInArgs = [](tbhost::PropertySet &in) { in.remove(kOfxPropTime); };
        args.time = 0.0;
        break;
      default:
        break;
    }
    if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) inst.instanceChanged(kParamRebuildButton);
    if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) inst.instanceChanged(kClipSourceMask, kOfxTypeClip);

    std::shared_ptr<Image> images[5];
    std::vector<unsigned char> before[5];
    for (int i = 0; i < 5; ++i) {
      images[i] = imageAt(clips[i], args.time);
      if (images[i]) before[i] = pixelBytes(*images[i]);
    }
    std::vector<std::vector<unsigned char>> inputsBefore;
    for (const std::shared_ptr<Image> &image : inputs) inputsBefore.push_back(pixelBytes(*image));
    const bool renderable = usableInput(images[kSource]) && usableColour(images[kOutput]);
    // Over several frames the LUT may come from other frames than this one.
    const bool analysed = overFrames(inst, temporal, args.time);
    const bool referenceUsed = renderable && (analysed || usableInput(images[kReference]));
    const size_t fetchedBefore = inst.fetchedImages().size();

    const OfxStatus status = inst.render(args);
    FUZZ_CHECK(status == (renderable ? kOfxStatOK : kOfxStatFailed),
               "render at %g returned %d with a Source %s and an Output %s", args.time, status,
               images[kSource] ? (usableInput(images[kSource]) ? "usable" : "unusable") : "absent",
               images[kOutput] ? (usableColour(images[kOutput]) ? "usable" : "unusable") : "absent");
    checkLedger(inst, h);
    for (int i = 0; i < 5; ++i) {
      if (!images[i]) continue;
      FUZZ_CHECK(images[i]->outsideIntact(), "bytes outside the %s image changed", kClips[i]);
      if (i != kOutput)
        FUZZ_CHECK(pixelBytes(*images[i]) == before[i], "the %s image was written to", kClips[i]);
    }
    for (size_t i = 0; i < inputs.size(); ++i)
      FUZZ_CHECK(inputs[i]->outsideIntact() && pixelBytes(*inputs[i]) == inputsBefore[i],
                 "an input image of another frame was written to");
    if (!analysed) {
      const std::vector<tbhost::ImageRecord> fetched = inst.fetchedImages();
      for (size_t i = fetchedBefore; i < fetched.size(); ++i)
        FUZZ_CHECK(fetched[i].time == args.time || (std::isnan(fetched[i].time) && std::isnan(args.time)),
                   "a render at %g of one frame fetched %s at %g", args.time, fetched[i].clip.c_str(),
                   fetched[i].time);
    }
    const Image &out = *images[kOutput];
    // The converted pixels of an Alpha Source, or of a frame in another
    // format than the one its clip took from the others, are the host's; the
    // output is checked against Sources delivered as they are.
    bool asGiven = usableColour(images[kSource]) == usableInput(images[kSource]);
    const std::vector<tbhost::ImageRecord> fetched = inst.fetchedImages();
    for (size_t i = fetchedBefore; i < fetched.size() && images[kSource]; ++i)
      if (fetched[i].clip == kClips[kSource] && fetched[i].time == args.time)
        asGiven = asGiven && fetched[i].depth == tbhost::depthName(images[kSource]->depth()) &&
                  fetched[i].components == tbhost::componentsName(images[kSource]->components());
    if (out.data() != nullptr && asGiven)
      checkOutput(out, before[kOutput], window, images[kSource], status == kOfxStatOK, referenceUsed, mix,
                  strength[0] <= 0.0);

    if (fdp.ConsumeBool()) {
      const tbhost::IdentityResult id = inst.isIdentity(time, args.window);
      const bool identity = inst.paramDouble(kParamStrength, time) <= 0.0;
      FUZZ_CHECK(id.status == (identity ? kOfxStatOK : kOfxStatReplyDefault), "is identity returned %d", id.status);
      if (identity) FUZZ_CHECK(id.clip == "Source", "is identity named clip '%s'", id.clip.c_str());
    }
    if (fdp.ConsumeIntegralInRange<int>(0, 2) == 0)
      checkFramesNeeded(inst, temporal, fdp.ConsumeBool() ? pickTime(fdp) : specialDouble(fdp));
  }

  FUZZ_CHECK(inst.destroy() == kOfxStatOK, "destroy failed");
  checkLedger(inst, h);
  const tbhost::MemoryStats memory = h.memory();
  FUZZ_CHECK(memory.liveBlocks == liveBefore, "%ld memory-suite blocks left after destroy",
             memory.liveBlocks - liveBefore);
  FUZZ_CHECK(memory.badFrees == 0, "memoryFree of a pointer the host never gave");
  return 0;
}
