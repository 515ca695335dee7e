// Fuzz target: the render and is-identity actions on images of any geometry,
// depth and component count, with awkward pixel and parameter values, render
// windows inside and outside the images, masks present or absent, both match
// modes and every preserve mode.
//
// Invariants checked after every render: the status follows from the images
// given; every fetched image was released exactly once; nothing was written
// outside any image, outside the render window, or into an input; the output
// is finite and within [0, 1] wherever the Source was; without a Reference,
// or for a channel whose strength is 0, the output is the clamped Source; at
// a master mix of 0 or less it is the Source as it is; and the host's memory
// blocks are all given back at destroy.
#include "fuzz/FuzzSupport.h"
#include "plugin/Names.h"

using namespace fuzzsupport;
using tbhost::Image;
using tbhost::Instance;

namespace {

const char *const kClips[5] = {"Source", "Reference", "Output", "SourceMask", "ReferenceMask"};
enum { kSource, kReference, kOutput, kSourceMask, kReferenceMask };

// The host is rebuilt now and then: it keeps every instance it ever made.
tbhost::Host &host() {
  static std::unique_ptr<tbhost::Host> h;
  static int uses = 0;
  if (!h || ++uses > 200) {
    h.reset();
    h.reset(new tbhost::Host(bundleBinary()));
    if (h->load() != kOfxStatOK) fail("the bundle does not load: %s", h->lastError().c_str());
    uses = 0;
  }
  return *h;
}

struct ClipSetup {
  std::shared_ptr<Image> image;
  bool anyTime = true;  // else only at time 0
};

std::shared_ptr<Image> imageAt(const ClipSetup &clip, double time) {
  if (!clip.image) return nullptr;
  if (clip.anyTime || time == 0.0) return clip.image;
  return nullptr;
}

bool usableColour(const std::shared_ptr<Image> &image) {
  return image && image->data() != nullptr && image->components() != tbhost::Components::Alpha;
}

// An input the host hands over in a format its clip supports: an Alpha
// picture on a colour clip arrives as RGB(A).
bool usableInput(const std::shared_ptr<Image> &image) { return image && image->data() != nullptr; }

double pickTime(FuzzedDataProvider &fdp) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return 1.0;
    case 1: return std::numeric_limits<double>::quiet_NaN();
    case 2: return -1.0;
    case 3: return 2.5;
    default: return 0.0;
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
  tbhost::Host &h = host();
  const long liveBefore = h.memory().liveBlocks;
  Instance inst = h.createInstance(kOfxImageEffectContextGeneral);
  FUZZ_CHECK(inst.valid() && inst.createStatus() == kOfxStatOK, "create instance failed: %d", inst.createStatus());

  ClipSetup clips[5];
  for (int i = 0; i < 5; ++i) {
    const bool colour = i == kSource || i == kReference || i == kOutput;
    const bool present = colour ? fdp.ConsumeIntegralInRange<int>(0, 7) != 0 : fdp.ConsumeBool();
    if (!present) continue;
    clips[i].image = imageFromFuzz(fdp, i == kOutput ? 20 : 16);
    clips[i].anyTime = i == kOutput || fdp.ConsumeIntegralInRange<int>(0, 3) != 0;
    if (clips[i].anyTime) {
      inst.setImage(kClips[i], clips[i].image);
    } else {
      inst.setImage(kClips[i], 0.0, clips[i].image);
    }
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
    }
    double time = pickTime(fdp);
    // The host looks images up by exact time, which a NaN time does not
    // match reliably: NaN times only for clips that hold one image for all.
    bool timed = false;
    for (const ClipSetup &c : clips) timed = timed || (c.image && !c.anyTime);
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
    const bool renderable = usableInput(images[kSource]) && usableColour(images[kOutput]);
    const bool referenceUsed = renderable && usableInput(images[kReference]);

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
    const Image &out = *images[kOutput];
    // The converted pixels of an Alpha Source are the host's; the output is
    // checked against Sources delivered as they are.
    if (out.data() != nullptr && usableColour(images[kSource]) == usableInput(images[kSource]))
      checkOutput(out, before[kOutput], window, images[kSource], status == kOfxStatOK, referenceUsed, mix,
                  strength[0] <= 0.0);

    if (fdp.ConsumeBool()) {
      const tbhost::IdentityResult id = inst.isIdentity(time, args.window);
      const bool identity = inst.paramDouble(kParamStrength, time) <= 0.0;
      FUZZ_CHECK(id.status == (identity ? kOfxStatOK : kOfxStatReplyDefault), "is identity returned %d", id.status);
      if (identity) FUZZ_CHECK(id.clip == "Source", "is identity named clip '%s'", id.clip.c_str());
    }
  }

  FUZZ_CHECK(inst.destroy() == kOfxStatOK, "destroy failed");
  checkLedger(inst, h);
  const tbhost::MemoryStats memory = h.memory();
  FUZZ_CHECK(memory.liveBlocks == liveBefore, "%ld memory-suite blocks left after destroy",
             memory.liveBlocks - liveBefore);
  FUZZ_CHECK(memory.badFrees == 0, "memoryFree of a pointer the host never gave");
  return 0;
}
