// An effect instance: made from its context descriptor, its clips and their
// images, its parameters, and the actions a host sends it.
#include <cmath>

#include "host/Host.h"
#include "host/HostInternal.h"

namespace tbhost {

namespace {

// The clip's "connected" property follows the host's flag (clip lock held).
void showConnection(Clip &clip) { clip.props.defineInt(kOfxImageClipPropConnected, {clip.connected ? 1 : 0}); }

void defineClipInstance(Clip &clip, const PropertySet &descriptor) {
  PropertySet &p = clip.props;
  p.copyFrom(descriptor);
  p.defineString(kOfxPropType, {kOfxTypeClip});
  p.defineString(kOfxPropName, {clip.name});
  if (!p.has(kOfxPropLabel)) p.defineString(kOfxPropLabel, {clip.name});
  if (!p.has(kOfxImageClipPropOptional)) p.defineInt(kOfxImageClipPropOptional, {0});
  if (!p.has(kOfxImageClipPropIsMask)) p.defineInt(kOfxImageClipPropIsMask, {0});
  p.defineString(kOfxImageEffectPropPixelDepth, {kOfxBitDepthFloat});
  p.defineString(kOfxImageEffectPropComponents, {kOfxImageComponentRGBA});
  p.defineString("OfxImageClipPropUnmappedPixelDepth", {kOfxBitDepthFloat});
  p.defineString("OfxImageClipPropUnmappedComponents", {kOfxImageComponentRGBA});
  p.defineString(kOfxImageEffectPropPreMultiplication, {kOfxImageUnPreMultiplied});
  p.defineDouble(kOfxImagePropPixelAspectRatio, {1.0});
  p.defineDouble("OfxImageEffectPropFrameRate", {24.0});
  p.defineDouble("OfxImageEffectPropFrameRange", {0.0, 100.0});
  p.defineDouble("OfxImageEffectPropUnmappedFrameRate", {24.0});
  p.defineDouble("OfxImageEffectPropUnmappedFrameRange", {0.0, 100.0});
  p.defineString("OfxImageClipPropFieldOrder", {"OfxFieldNone"});
  p.defineInt("OfxImageClipPropContinuousSamples", {0});
  showConnection(clip);
  p.setOpen(false);
}

void defineParamInstance(Param &param, const PropertySet &descriptor) {
  PropertySet &p = param.props;
  p.copyFrom(descriptor);
  p.defineString(kOfxPropType, {kOfxTypeParameter});
  p.defineString(kOfxPropName, {param.name});
  p.defineString(kOfxParamPropType, {param.type});
  if (!p.has(kOfxPropLabel)) p.defineString(kOfxPropLabel, {param.name});
  if (!p.has(kOfxParamPropEnabled)) p.defineInt(kOfxParamPropEnabled, {1});
  if (!p.has(kOfxParamPropSecret)) p.defineInt(kOfxParamPropSecret, {0});
  if (!p.has(kOfxParamPropEvaluateOnChange)) p.defineInt(kOfxParamPropEvaluateOnChange, {1});
  param.value = defaultValue(param);
}

Param *findParam(Effect *effect, const std::string &name) {
  return effect ? effect->paramSet.find(name) : nullptr;
}

Clip *findClip(Effect *effect, const std::string &name) { return effect ? effect->findClip(name) : nullptr; }

// The clip takes the format of the image connected to it.
void describeImage(Clip &clip, const Image &image) {
  clip.props.defineString(kOfxImageEffectPropPixelDepth, {depthName(image.depth())});
  clip.props.defineString(kOfxImageEffectPropComponents, {componentsName(image.components())});
}

}  // namespace

Effect *newInstance(HostState &state, Effect &descriptor, const std::string &context) {
  Effect *effect = newEffect(state, false, context);
  PropertySet &p = effect->props;
  p.copyFrom(descriptor.props);
  p.defineString(kOfxPropType, {kOfxTypeImageEffectInstance});
  p.defineString(kOfxImageEffectPropContext, {context});
  p.definePointer(kOfxPropInstanceData, {nullptr});
  p.defineDouble("OfxImageEffectPropProjectSize", {1920.0, 1080.0});
  p.defineDouble("OfxImageEffectPropProjectOffset", {0.0, 0.0});
  p.defineDouble("OfxImageEffectPropProjectExtent", {1920.0, 1080.0});
  p.defineDouble("OfxImageEffectPropPixelAspectRatio", {1.0});
  p.defineDouble("OfxImageEffectInstancePropEffectDuration", {100.0});
  p.defineInt("OfxImageEffectInstancePropSequentialRender", {0});
  p.defineDouble("OfxImageEffectPropFrameRate", {24.0});
  p.defineInt("OfxPropIsInteractive", {0});
  p.setOpen(false);

  std::vector<std::pair<std::string, const PropertySet *>> clips;
  {
    std::lock_guard<std::mutex> lock(descriptor.mutex);
    for (const auto &c : descriptor.clips) clips.emplace_back(c->name, &c->props);
  }
  for (const auto &c : clips) {
    std::unique_ptr<Clip> clip(new Clip());
    clip->owner = effect;
    clip->name = c.first;
    clip->connected = c.first == kOfxImageEffectOutputClipName;
    defineClipInstance(*clip, *c.second);
    std::lock_guard<std::mutex> lock(effect->mutex);
    effect->clips.push_back(std::move(clip));
  }

  std::vector<const Param *> params;
  {
    std::lock_guard<std::mutex> lock(descriptor.paramSet.mutex);
    for (const auto &prm : descriptor.paramSet.params) params.push_back(prm.get());
  }
  effect->paramSet.props.copyFrom(descriptor.paramSet.props);
  for (const Param *d : params) {
    std::unique_ptr<Param> param(new Param());
    param->owner = effect;
    param->name = d->name;
    param->type = d->type;
    param->kind = d->kind;
    param->dimension = d->dimension;
    defineParamInstance(*param, d->props);
    std::lock_guard<std::mutex> lock(effect->paramSet.mutex);
    effect->paramSet.params.push_back(std::move(param));
  }
  return effect;
}

OfxStatus Instance::createStatus() const { return effect_ ? effect_->createStatus.load() : status_; }
OfxImageEffectHandle Instance::handle() const { return effect_ ? effect_->handle() : nullptr; }
PropertySet *Instance::properties() const { return effect_ ? &effect_->props : nullptr; }
void *Instance::instanceData() const { return effect_ ? effect_->props.getPointer(kOfxPropInstanceData) : nullptr; }
std::string Instance::context() const { return effect_ ? effect_->context : std::string(); }
bool Instance::destroyed() const { return effect_ && effect_->destroyed; }

PropertySet *Instance::clipProperties(const std::string &clip) const {
  Clip *c = findClip(effect_, clip);
  return c ? &c->props : nullptr;
}

bool Instance::setImage(const std::string &clip, double time, std::shared_ptr<Image> image) {
  Clip *c = findClip(effect_, clip);
  if (!c || time != time) return false;
  if (image) describeImage(*c, *image);
  std::lock_guard<std::mutex> lock(c->mutex);
  if (image) {
    c->images[time] = std::move(image);
    c->connected = true;
  } else {
    c->images.erase(time);
  }
  showConnection(*c);
  return true;
}

bool Instance::setImage(const std::string &clip, std::shared_ptr<Image> image) {
  Clip *c = findClip(effect_, clip);
  if (!c) return false;
  if (image) describeImage(*c, *image);
  std::lock_guard<std::mutex> lock(c->mutex);
  c->anyTime = std::move(image);
  if (c->anyTime) c->connected = true;
  showConnection(*c);
  return true;
}

std::shared_ptr<Image> Instance::image(const std::string &clip, double time) const {
  Clip *c = findClip(effect_, clip);
  if (!c) return nullptr;
  std::lock_guard<std::mutex> lock(c->mutex);
  return c->imageAt(time);
}

bool Instance::clearImages(const std::string &clip) {
  Clip *c = findClip(effect_, clip);
  if (!c) return false;
  std::lock_guard<std::mutex> lock(c->mutex);
  c->images.clear();
  c->anyTime.reset();
  return true;
}

bool Instance::setClipConnected(const std::string &clip, bool connected) {
  Clip *c = findClip(effect_, clip);
  if (!c) return false;
  std::lock_guard<std::mutex> lock(c->mutex);
  c->connected = connected;
  showConnection(*c);
  return true;
}

PropertySet *Instance::paramProperties(const std::string &param) const {
  Param *p = findParam(effect_, param);
  return p ? &p->props : nullptr;
}

bool Instance::setParam(const std::string &param, double value) {
  return setParamNumbers(findParam(effect_, param), false, 0.0, {value});
}
bool Instance::setParam(const std::string &param, const std::string &text) {
  return setParamText(findParam(effect_, param), false, 0.0, text);
}
bool Instance::setParamValues(const std::string &param, const std::vector<double> &values) {
  return setParamNumbers(findParam(effect_, param), false, 0.0, values);
}
bool Instance::setParamAt(const std::string &param, double time, double value) {
  return setParamNumbers(findParam(effect_, param), true, time, {value});
}
bool Instance::setParamAt(const std::string &param, double time, const std::string &text) {
  return setParamText(findParam(effect_, param), true, time, text);
}
bool Instance::setParamValuesAt(const std::string &param, double time, const std::vector<double> &values) {
  return setParamNumbers(findParam(effect_, param), true, time, values);
}

std::vector<double> Instance::paramValues(const std::string &param, double time) const {
  Param *p = findParam(effect_, param);
  if (!p) return {};
  std::lock_guard<std::mutex> lock(p->mutex);
  return paramValueAt(*p, time).numbers;
}

double Instance::paramDouble(const std::string &param, double time) const {
  const std::vector<double> v = paramValues(param, time);
  return v.empty() ? std::nan("") : v[0];
}

int Instance::paramInt(const std::string &param, double time) const {
  const std::vector<double> v = paramValues(param, time);
  return v.empty() ? 0 : static_cast<int>(v[0]);
}

std::string Instance::paramString(const std::string &param, double time) const {
  Param *p = findParam(effect_, param);
  if (!p) return std::string();
  std::lock_guard<std::mutex> lock(p->mutex);
  const ParamValue v = paramValueAt(*p, time);
  return v.text ? *v.text : std::string();
}

OfxStatus Instance::render(double time, OfxRectI window) {
  RenderArgs args;
  args.time = time;
  args.window = window;
  return render(args);
}

OfxStatus Instance::render(const RenderArgs &args) {
  if (!effect_ || effect_->destroyed) return kOfxStatErrBadHandle;
  Clip *output = effect_->findClip(kOfxImageEffectOutputClipName);
  if (output) {
    std::shared_ptr<Image> source = image(kOfxImageEffectSimpleSourceClipName, args.time);
    std::lock_guard<std::mutex> lock(output->mutex);
    if (!output->imageAt(args.time)) {
      output->images[args.time] =
          source ? Image::create(source->depth(), source->components(), source->bounds())
                 : Image::create(PixelDepth::Float, Components::RGBA, args.window);
    }
  }
  PropertySet in("inArgs");
  in.defineDouble(kOfxPropTime, {args.time});
  in.defineString(kOfxImageEffectPropFieldToRender, {args.field});
  in.defineInt(kOfxImageEffectPropRenderWindow, {args.window.x1, args.window.y1, args.window.x2, args.window.y2});
  in.defineDouble(kOfxImageEffectPropRenderScale, {args.renderScaleX, args.renderScaleY});
  in.defineInt("OfxImageEffectPropSequentialRenderStatus", {0});
  in.defineInt("OfxImageEffectPropInteractiveRenderStatus", {0});
  in.defineInt("OfxImageEffectPropRenderQualityDraft", {0});
  if (args.editInArgs) args.editInArgs(in);
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

OfxStatus Instance::instanceChanged(const std::string &name, const std::string &type, const std::string &reason,
                                    double time) {
  if (!effect_ || effect_->destroyed) return kOfxStatErrBadHandle;
  return sendInstanceChanged(*state_, *effect_, name, type, reason, time);
}

OfxStatus Instance::editParam(const std::string &param, double value) {
  if (!setParam(param, value)) return kOfxStatErrUnknown;
  return instanceChanged(param, kOfxTypeParameter, kOfxChangeUserEdited, state_->currentTime.load());
}

OfxStatus Instance::editParam(const std::string &param, const std::string &text) {
  if (!setParam(param, text)) return kOfxStatErrUnknown;
  return instanceChanged(param, kOfxTypeParameter, kOfxChangeUserEdited, state_->currentTime.load());
}

OfxStatus Instance::callAction(const char *action, PropertySet *inArgs, PropertySet *outArgs) {
  if (!effect_) return kOfxStatErrBadHandle;
  return callEntry(*state_, action, effect_->handle(), inArgs, outArgs);
}

OfxStatus Instance::destroy() {
  if (!effect_) return kOfxStatErrBadHandle;
  if (!effect_->created || effect_->destroyed.exchange(true)) return kOfxStatOK;
  return callEntry(*state_, kOfxActionDestroyInstance, effect_->handle(), nullptr, nullptr);
}

LedgerStats Instance::ledger() const {
  LedgerStats s;
  if (!effect_) return s;
  std::lock_guard<std::mutex> lock(effect_->ledgerMutex);
  s.fetched = static_cast<long>(effect_->fetched.size());
  s.released = effect_->released;
  s.doubleReleases = effect_->doubleReleases;
  for (const auto &f : effect_->fetched) {
    if (!f->released) s.outstanding.push_back(f->clip + "@" + std::to_string(f->time));
  }
  return s;
}

}  // namespace tbhost
