// The render, frames-needed and is-identity actions. Before each render the
// host brings the clip preferences up to date, asks the frames needed when
// both sides have temporal access, and asks the regions of interest, which
// the fetches made during the render then follow.
#include "host/Host.h"
#include "host/HostInternal.h"

namespace tbhost {

namespace {

// Makes the output image when the clip has none at `time`: the output's
// preferred format at Source's bounds, or the render window without Source.
void makeOutput(Effect &effect, double time, const OfxRectI &window) {
  Clip *output = effect.findClip(kOfxImageEffectOutputClipName);
  if (!output) return;
  Clip *sourceClip = effect.findClip(kOfxImageEffectSimpleSourceClipName);
  {
    std::lock_guard<std::mutex> lock(output->mutex);
    if (output->imageAt(time)) return;
  }
  const std::shared_ptr<Image> source = sourceClip ? clipImageAt(*sourceClip, time).image : nullptr;
  std::lock_guard<std::mutex> lock(output->mutex);
  if (output->imageAt(time)) return;
  PixelDepth depth = source ? source->depth() : PixelDepth::Float;
  Components components = source ? source->components() : Components::RGBA;
  depthFromName(output->preferredDepth, depth);
  componentsFromName(output->preferredComponents, components);
  output->images[time] = ClipImage{Image::create(depth, components, source ? source->bounds() : window),
                                   newImageSerial()};
}

// Marks the render this thread runs for the fetches it makes.
struct ActiveRender {
  const RenderContext *previous = activeRender();
  explicit ActiveRender(const RenderContext *context) { setActiveRender(context); }
  ~ActiveRender() { setActiveRender(previous); }
};

// The plug-in declared temporal access and the host has it.
bool temporalRender(const HostState &state, const Effect &effect) {
  return hostHasTemporalAccess(state) && effect.props.getInt(kOfxImageEffectPropTemporalClipAccess, 0, 0) == 1;
}

}  // namespace

FramesNeededRecord askFramesNeeded(HostState &state, Effect &effect, double time, bool beforeRender) {
  FramesNeededRecord record;
  record.time = time;
  record.beforeRender = beforeRender;
  std::vector<std::string> inputs;
  {
    std::lock_guard<std::mutex> lock(effect.mutex);
    for (const auto &clip : effect.clips) {
      if (!clip->isOutput()) inputs.push_back(clip->name);
    }
  }
  PropertySet in("inArgs");
  in.defineDouble(kOfxPropTime, {time});
  PropertySet out("outArgs");
  for (const std::string &name : inputs)
    out.defineDouble(std::string(kOfxImageClipPropFrameRange) + name, {time, time}, 0);
  record.status = callEntry(state, kOfxImageEffectActionGetFramesNeeded, effect.handle(), &in, &out);
  for (const std::string &name : inputs) {
    const std::vector<double> values = out.getDoubles(std::string(kOfxImageClipPropFrameRange) + name);
    std::vector<FrameRange> &ranges = record.ranges[name];
    for (size_t i = 0; i + 1 < values.size(); i += 2) ranges.push_back(FrameRange{values[i], values[i + 1]});
  }
  record.writes = out.writes();
  std::lock_guard<std::mutex> lock(effect.framesMutex);
  effect.framesNeeded.push_back(record);
  if (effect.framesNeeded.size() > Effect::kMaxFramesNeeded) effect.framesNeeded.pop_front();
  return record;
}

OfxStatus Instance::render(double time, OfxRectI window) {
  RenderArgs args;
  args.time = time;
  args.window = window;
  return render(args);
}

OfxStatus Instance::render(const RenderArgs &args) {
  if (!effect_ || effect_->destroyed) return kOfxStatErrBadHandle;
  const OfxStatus prefs = refreshClipPreferences(*state_, *effect_);
  if (!succeeded(prefs)) return prefs;
  // As hosts built on the standard's support library do, the answer is
  // recorded but fetches are not held to it.
  if (temporalRender(*state_, *effect_)) {
    const OfxStatus frames = askFramesNeeded(*state_, *effect_, args.time, true).status;
    if (!succeeded(frames)) return frames;
  }
  RenderContext context;
  const OfxStatus regions = askRegionsOfInterest(*state_, *effect_, args.time, args.window, args.renderScaleX,
                                                 args.renderScaleY, context);
  if (regions != kOfxStatOK) return regions;
  makeOutput(*effect_, args.time, args.window);
  PropertySet in("inArgs");
  in.defineDouble(kOfxPropTime, {args.time});
  in.defineString(kOfxImageEffectPropFieldToRender, {args.field});
  in.defineInt(kOfxImageEffectPropRenderWindow, {args.window.x1, args.window.y1, args.window.x2, args.window.y2});
  in.defineDouble(kOfxImageEffectPropRenderScale, {args.renderScaleX, args.renderScaleY});
  in.defineInt("OfxImageEffectPropSequentialRenderStatus", {0});
  in.defineInt("OfxImageEffectPropInteractiveRenderStatus", {0});
  in.defineInt("OfxImageEffectPropRenderQualityDraft", {0});
  if (args.editInArgs) args.editInArgs(in);
  ActiveRender active(&context);
  return callEntry(*state_, kOfxImageEffectActionRender, effect_->handle(), &in, nullptr);
}

IdentityResult Instance::isIdentity(double time, OfxRectI window) {
  IdentityResult result;
  if (!effect_ || effect_->destroyed) {
    result.status = kOfxStatErrBadHandle;
    return result;
  }
  PropertySet in("inArgs");
  in.defineDouble(kOfxPropTime, {time});
  in.defineString(kOfxImageEffectPropFieldToRender, {"OfxFieldNone"});
  in.defineInt(kOfxImageEffectPropRenderWindow, {window.x1, window.y1, window.x2, window.y2});
  in.defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
  PropertySet out("outArgs");
  out.defineString(kOfxPropName, {""});
  out.defineDouble(kOfxPropTime, {time});
  result.status = callEntry(*state_, kOfxImageEffectActionIsIdentity, effect_->handle(), &in, &out);
  result.clip = out.getString(kOfxPropName);
  result.time = out.getDouble(kOfxPropTime);
  result.writes = out.writes();
  return result;
}

}  // namespace tbhost
