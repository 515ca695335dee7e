// What a fetch delivers. The host asks the plug-in for its regions of
// interest before each render and cuts input images to them, as hosts that
// render in tiles do, and converts them to the format the plug-in prefers.
#include <algorithm>
#include <cmath>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

thread_local const RenderContext *tActiveRender = nullptr;

const char *const kRoIPrefix = "OfxImageClipPropRoI_";

// Canonical coordinates beyond this are clamped: no image is that large.
constexpr double kFarAway = 1 << 30;

double usableScale(double scale) { return std::isfinite(scale) && scale > 0.0 ? scale : 1.0; }

int toPixel(double value) { return static_cast<int>(std::max(-kFarAway, std::min(value, kFarAway))); }

// A canonical rectangle as the pixels it touches; false when it holds a NaN.
bool toPixels(const OfxRectD &r, double scaleX, double scaleY, OfxRectI &out) {
  if (std::isnan(r.x1) || std::isnan(r.y1) || std::isnan(r.x2) || std::isnan(r.y2)) return false;
  out.x1 = toPixel(std::floor(r.x1 * scaleX));
  out.y1 = toPixel(std::floor(r.y1 * scaleY));
  out.x2 = toPixel(std::ceil(r.x2 * scaleX));
  out.y2 = toPixel(std::ceil(r.y2 * scaleY));
  return true;
}

bool isEmpty(const OfxRectI &r) { return r.x2 <= r.x1 || r.y2 <= r.y1; }

bool sameRect(const OfxRectI &a, const OfxRectI &b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

OfxRectI intersection(const OfxRectI &a, const OfxRectI &b) {
  OfxRectI r{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
  return isEmpty(r) ? OfxRectI{0, 0, 0, 0} : r;
}

// The active render, when it is one of `clip`'s effect.
const RenderContext *renderOf(const Clip &clip) {
  const RenderContext *render = tActiveRender;
  return render && render->effect == clip.owner ? render : nullptr;
}

// The part of `bounds` a fetch covers: `region` (canonical) when the
// plug-in passed one, else the active render's region for the clip, else
// all of it. Output images are always whole.
OfxRectI fetchRegion(const Clip &clip, const OfxRectI &bounds, const OfxRectD *region) {
  if (clip.isOutput()) return bounds;
  const RenderContext *render = renderOf(clip);
  OfxRectI wanted;
  if (region && toPixels(*region, render ? render->scaleX : 1.0, render ? render->scaleY : 1.0, wanted)) {
    return intersection(wanted, bounds);
  }
  if (!render) return bounds;
  auto it = render->regions.find(clip.name);
  return intersection(it == render->regions.end() ? render->window : it->second, bounds);
}

}  // namespace

// The connected image itself when the fetch covers all of it as it is.
std::shared_ptr<Image> deliveredImage(Clip &clip, const ClipImage &slot, const OfxRectD *region) {
  const Image &connected = *slot.image;
  const OfxRectI &bounds = connected.bounds();
  const OfxRectI part = isEmpty(bounds) ? bounds : fetchRegion(clip, bounds, region);
  if (isEmpty(part) && !isEmpty(bounds)) return nullptr;
  PixelDepth depth = connected.depth();
  Components components = connected.components();
  if (!clip.isOutput()) {
    std::lock_guard<std::mutex> lock(clip.mutex);
    depthFromName(clip.preferredDepth, depth);
    componentsFromName(clip.preferredComponents, components);
  }
  if (sameRect(part, bounds) && depth == connected.depth() && components == connected.components()) {
    return slot.image;
  }
  const bool opaque = clip.props.getString(kOfxImageEffectPropPreMultiplication) == kOfxImageOpaque;
  const bool realAlpha = components == Components::Alpha && !opaque && hasRealAlpha(connected);
  return convertedPart(connected, part, depth, components, realAlpha);
}

const RenderContext *activeRender() { return tActiveRender; }
void setActiveRender(const RenderContext *context) { tActiveRender = context; }

OfxStatus askRegionsOfInterest(HostState &state, Effect &effect, double time, OfxRectI window, double scaleX,
                               double scaleY, RenderContext &context) {
  context.effect = &effect;
  context.time = time;
  context.scaleX = usableScale(scaleX);
  context.scaleY = usableScale(scaleY);
  context.window = window;
  const std::vector<double> asked = {window.x1 / context.scaleX, window.y1 / context.scaleY,
                                     window.x2 / context.scaleX, window.y2 / context.scaleY};
  PropertySet in("inArgs");
  in.defineDouble(kOfxPropTime, {time});
  in.defineDouble(kOfxImageEffectPropRenderScale, {scaleX, scaleY});
  in.defineDouble(kOfxImageEffectPropRegionOfInterest, asked);
  PropertySet out("outArgs");
  std::vector<std::string> inputs;
  {
    std::lock_guard<std::mutex> lock(effect.mutex);
    for (const auto &clip : effect.clips) {
      if (!clip->isOutput()) inputs.push_back(clip->name);
    }
  }
  for (const std::string &name : inputs) out.defineDouble(kRoIPrefix + name, asked);
  const OfxStatus status = callEntry(state, kOfxImageEffectActionGetRegionsOfInterest, effect.handle(), &in, &out);
  if (status == kOfxStatReplyDefault) return kOfxStatOK;
  if (status != kOfxStatOK) return status;
  for (const std::string &name : inputs) {
    const std::vector<double> r = out.getDoubles(kRoIPrefix + name);
    OfxRectI pixels;
    if (r.size() == 4 && toPixels(OfxRectD{r[0], r[1], r[2], r[3]}, context.scaleX, context.scaleY, pixels)) {
      context.regions[name] = pixels;
    }
  }
  return kOfxStatOK;
}

OfxRectD canonicalRegion(const Clip &clip, const OfxRectI &bounds) {
  const RenderContext *render = renderOf(clip);
  const double sx = render ? render->scaleX : 1.0;
  const double sy = render ? render->scaleY : 1.0;
  return OfxRectD{bounds.x1 / sx, bounds.y1 / sy, bounds.x2 / sx, bounds.y2 / sy};
}

}  // namespace tbhost
