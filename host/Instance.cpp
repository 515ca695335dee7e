// An effect instance: made from its context descriptor, its clips and their
// images, its parameters, and the actions a host sends it.
#include <algorithm>
#include <cmath>
#include <utility>

#include "host/Host.h"
#include "host/HostInternal.h"

namespace tbhost {

namespace {

// A clip's frame range when nothing tells another.
constexpr double kDefaultFirst = 0.0;
constexpr double kDefaultLast = 100.0;

// The clip's "connected" property follows the host's flag (clip lock held).
void showConnection(Clip &clip) { clip.props.defineInt(kOfxImageClipPropConnected, {clip.connected ? 1 : 0}); }

// The clip's frame range: the one given, else from its first to its last
// image set for a time, else the default (clip lock held).
void showFrameRange(Clip &clip) {
  double first = kDefaultFirst, last = kDefaultLast;
  if (clip.rangeGiven) {
    first = clip.rangeFirst;
    last = clip.rangeLast;
  } else if (!clip.images.empty()) {
    first = clip.images.begin()->first;
    last = clip.images.rbegin()->first;
  }
  clip.props.defineDouble(kOfxImageEffectPropFrameRange, {first, last});
  clip.props.defineDouble(kOfxImageEffectPropUnmappedFrameRange, {first, last});
}

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
  p.defineString(kOfxImageClipPropUnmappedPixelDepth, {kOfxBitDepthFloat});
  p.defineString(kOfxImageClipPropUnmappedComponents, {kOfxImageComponentRGBA});
  p.defineString(kOfxImageEffectPropPreMultiplication, {kOfxImageUnPreMultiplied});
  p.defineDouble(kOfxImagePropPixelAspectRatio, {1.0});
  p.defineDouble(kOfxImageEffectPropFrameRate, {24.0});
  p.defineDouble(kOfxImageEffectPropFrameRange, {kDefaultFirst, kDefaultLast});
  p.defineDouble("OfxImageEffectPropUnmappedFrameRate", {24.0});
  p.defineDouble(kOfxImageEffectPropUnmappedFrameRange, {kDefaultFirst, kDefaultLast});
  p.defineString(kOfxImageClipPropFieldOrder, {"OfxFieldNone"});
  p.defineInt(kOfxImageClipPropContinuousSamples, {0});
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

}  // namespace

bool describeImage(Clip &clip, const Image &image) {
  const std::string depth = depthName(image.depth());
  const std::string components = componentsName(image.components());
  const bool changed = clip.props.getString(kOfxImageClipPropUnmappedPixelDepth) != depth ||
                       clip.props.getString(kOfxImageClipPropUnmappedComponents) != components;
  std::string preferredDepth, preferredComponents;
  {
    std::lock_guard<std::mutex> lock(clip.mutex);
    preferredDepth = clip.preferredDepth;
    preferredComponents = clip.preferredComponents;
  }
  clip.props.defineString(kOfxImageClipPropUnmappedPixelDepth, {depth});
  clip.props.defineString(kOfxImageClipPropUnmappedComponents, {components});
  clip.props.defineString(kOfxImageEffectPropPixelDepth, {preferredDepth.empty() ? depth : preferredDepth});
  clip.props.defineString(kOfxImageEffectPropComponents,
                          {preferredComponents.empty() ? components : preferredComponents});
  return changed;
}

namespace {

// Connects `image` to the clip at `time` (every time when `anyTime`), or
// removes the image there when it is null. Asks for new clip preferences
// when the clip's connection or format changed.
bool connectImage(Effect *effect, const std::string &name, bool anyTime, double time, std::shared_ptr<Image> image) {
  Clip *c = findClip(effect, name);
  if (!c || (!anyTime && time != time)) return false;
  bool changed = image && describeImage(*c, *image);
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    changed = changed || (image && !c->connected);
    ClipImage slot{std::move(image), newImageSerial()};
    if (anyTime) {
      c->anyTime = slot.image ? slot : ClipImage();
    } else if (slot.image) {
      c->images[time] = std::move(slot);
    } else {
      c->images.erase(time);
    }
    if (anyTime ? c->anyTime.image != nullptr : c->images.count(time) != 0) c->connected = true;
    showConnection(*c);
    showFrameRange(*c);
  }
  if (changed) markClipPreferencesStale(*effect);
  return true;
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
  return connectImage(effect_, clip, false, time, std::move(image));
}

bool Instance::setImage(const std::string &clip, std::shared_ptr<Image> image) {
  return connectImage(effect_, clip, true, 0.0, std::move(image));
}

OfxStatus Instance::editImage(const std::string &clip, double time, std::shared_ptr<Image> image) {
  if (!setImage(clip, time, std::move(image))) return kOfxStatErrUnknown;
  askClipPreferences();
  return instanceChanged(clip, kOfxTypeClip, kOfxChangeUserEdited, time);
}

OfxStatus Instance::editImage(const std::string &clip, std::shared_ptr<Image> image) {
  if (!setImage(clip, std::move(image))) return kOfxStatErrUnknown;
  askClipPreferences();
  return instanceChanged(clip, kOfxTypeClip, kOfxChangeUserEdited, state_->currentTime.load());
}

bool Instance::setPremultiplication(const std::string &clip, const std::string &state) {
  Clip *c = findClip(effect_, clip);
  if (!c || !isPremultiplication(state)) return false;
  c->props.defineString(kOfxImageEffectPropPreMultiplication, {state});
  markClipPreferencesStale(*effect_);  // the output's default follows Source
  return true;
}

std::shared_ptr<Image> Instance::image(const std::string &clip, double time) const {
  Clip *c = findClip(effect_, clip);
  return c ? clipImageAt(*c, time).image : nullptr;
}

bool Instance::clearImages(const std::string &clip) {
  Clip *c = findClip(effect_, clip);
  if (!c) return false;
  std::lock_guard<std::mutex> lock(c->mutex);
  c->images.clear();
  c->anyTime = ClipImage();
  showFrameRange(*c);
  return true;
}

bool Instance::setImageProvider(const std::string &clip, ImageProvider provider) {
  Clip *c = findClip(effect_, clip);
  if (!c) return false;
  bool changed;
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    changed = provider && !c->connected;
    c->provider = std::move(provider);
    c->providerSerial = newImageSerial();
    c->provided.clear();
    if (c->provider) c->connected = true;
    showConnection(*c);
  }
  if (changed) markClipPreferencesStale(*effect_);
  return true;
}

bool Instance::setFrameRange(const std::string &clip, double first, double last) {
  Clip *c = findClip(effect_, clip);
  if (!c || !(first <= last)) return false;
  std::lock_guard<std::mutex> lock(c->mutex);
  c->rangeGiven = true;
  c->rangeFirst = first;
  c->rangeLast = last;
  showFrameRange(*c);
  return true;
}

bool Instance::setClipConnected(const std::string &clip, bool connected) {
  Clip *c = findClip(effect_, clip);
  if (!c) return false;
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    if (c->connected == connected) return true;
    c->connected = connected;
    showConnection(*c);
  }
  markClipPreferencesStale(*effect_);
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
    if (!f->record.released) s.outstanding.push_back(f->record.clip + "@" + std::to_string(f->record.time));
  }
  return s;
}

std::vector<ImageRecord> Instance::fetchedImages() const {
  std::vector<ImageRecord> records;
  if (!effect_) return records;
  std::lock_guard<std::mutex> lock(effect_->ledgerMutex);
  for (const auto &f : effect_->fetched) records.push_back(f->record);
  return records;
}

OfxStatus Instance::askClipPreferences() {
  if (!effect_ || effect_->destroyed) return kOfxStatErrBadHandle;
  return tbhost::askClipPreferences(*state_, *effect_);
}

FramesNeededRecord Instance::framesNeeded(double time) {
  if (!effect_ || effect_->destroyed) {
    FramesNeededRecord r;
    r.time = time;
    r.status = kOfxStatErrBadHandle;
    return r;
  }
  return askFramesNeeded(*state_, *effect_, time, false);
}

std::vector<FramesNeededRecord> Instance::framesNeededRecords() const {
  if (!effect_) return {};
  std::lock_guard<std::mutex> lock(effect_->framesMutex);
  return std::vector<FramesNeededRecord>(effect_->framesNeeded.begin(), effect_->framesNeeded.end());
}

void Instance::abortAfter(long calls) {
  if (!effect_) return;
  effect_->abortFrom = calls < 0 ? -1 : effect_->abortCalls.load() + std::max(calls, 1L);
}

void Instance::setAbort(std::function<bool()> test) {
  if (!effect_) return;
  std::lock_guard<std::mutex> lock(effect_->abortMutex);
  effect_->abortTest = std::move(test);
}

long Instance::abortCalls() const { return effect_ ? effect_->abortCalls.load() : 0; }

ClipPreferences Instance::clipPreferences() const {
  if (!effect_) return ClipPreferences();
  std::lock_guard<std::mutex> lock(effect_->prefsMutex);
  return effect_->prefs;
}

}  // namespace tbhost
