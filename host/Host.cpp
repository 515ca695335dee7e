#include "host/Host.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "host/HostInternal.h"
#include "host/Platform.h"

#ifndef TINTBRIDGE_OFX_ARCH
#define TINTBRIDGE_OFX_ARCH "Linux-x86-64"
#endif

namespace tbhost {

namespace {

std::mutex gCurrentMutex;
std::weak_ptr<HostState> gCurrentHost;

thread_local int tChangeDepth = 0;
constexpr int kMaxChangeDepth = 16;

bool succeeded(OfxStatus status) { return status == kOfxStatOK || status == kOfxStatReplyDefault; }

void defineHostProperties(PropertySet &p) {
  p.defineString(kOfxPropType, {kOfxTypeImageEffectHost});
  p.defineString(kOfxPropName, {"com.lumenforge.tintbridge.host"});
  p.defineString(kOfxPropLabel, {"Tintbridge headless host"});
  p.defineInt(kOfxPropAPIVersion, {1, 4}, 0);
  p.defineInt(kOfxPropVersion, {1, 0, 0}, 0);
  p.defineString("OfxPropVersionLabel", {"1.0"});
  p.defineInt("OfxImageEffectHostPropIsBackground", {1});
  p.defineInt("OfxImageEffectPropSupportsOverlays", {0});
  p.defineInt(kOfxImageEffectPropSupportsMultiResolution, {1});
  p.defineInt(kOfxImageEffectPropSupportsTiles, {1});
  p.defineInt(kOfxImageEffectPropTemporalClipAccess, {1});
  p.defineString(kOfxImageEffectPropSupportedComponents,
                 {kOfxImageComponentRGBA, kOfxImageComponentRGB, kOfxImageComponentAlpha}, 0);
  p.defineString(kOfxImageEffectPropSupportedContexts,
                 {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}, 0);
  p.defineString(kOfxImageEffectPropSupportedPixelDepths, {kOfxBitDepthFloat, kOfxBitDepthShort, kOfxBitDepthByte},
                 0);
  p.defineInt("OfxImageEffectPropMultipleClipDepths", {1});
  p.defineInt("OfxImageEffectPropSupportsMultipleClipPARs", {0});
  p.defineInt("OfxImageEffectPropSetableFrameRate", {0});
  p.defineInt("OfxImageEffectPropSetableFielding", {0});
  p.defineInt("OfxParamHostPropSupportsCustomInteract", {0});
  p.defineInt("OfxParamHostPropSupportsStringAnimation", {0});
  p.defineInt("OfxParamHostPropSupportsChoiceAnimation", {0});
  p.defineInt("OfxParamHostPropSupportsBooleanAnimation", {0});
  p.defineInt("OfxParamHostPropSupportsCustomAnimation", {0});
  p.defineInt("OfxParamHostPropMaxParameters", {-1});
  p.defineInt("OfxParamHostPropMaxPages", {0});
  p.defineInt("OfxParamHostPropPageRowColumnCount", {0, 0});
  p.defineString("OfxImageEffectHostPropNativeOrigin", {"kOfxImageEffectHostPropNativeOriginBottomLeft"});
}

Effect *newEffect(HostState &state, bool isDescriptor, const std::string &context) {
  std::unique_ptr<Effect> effect(new Effect());
  effect->host = &state;
  effect->isDescriptor = isDescriptor;
  effect->context = context;
  effect->paramSet.owner = effect.get();
  Effect *raw = effect.get();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.effects.push_back(std::move(effect));
  return raw;
}

std::string bundleOf(const std::string &binary) {
  namespace fs = std::filesystem;
  fs::path p(binary);
  fs::path contents = p.parent_path().parent_path();
  if (contents.filename() == "Contents") return contents.parent_path().string();
  return p.parent_path().string();
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
  p.defineInt(kOfxImageClipPropConnected, {clip.connected ? 1 : 0});
  p.setOpen(false);
}

ParamValue defaultValue(const Param &param) {
  ParamValue v;
  if (param.kind == ParamKind::Text) {
    v.text = std::make_shared<const std::string>(param.props.getString(kOfxParamPropDefault));
    return v;
  }
  v.numbers.assign(static_cast<size_t>(param.dimension), 0.0);
  const std::vector<double> d = param.props.getDoubles(kOfxParamPropDefault);
  const std::vector<int> i = param.props.getInts(kOfxParamPropDefault);
  for (size_t k = 0; k < v.numbers.size(); ++k) {
    if (k < d.size()) v.numbers[k] = d[k];
    else if (k < i.size()) v.numbers[k] = i[k];
  }
  return v;
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

bool setNumbers(Effect *effect, const std::string &name, bool atTime, double time, const std::vector<double> &values) {
  Param *param = findParam(effect, name);
  if (!param || (param->kind != ParamKind::Int && param->kind != ParamKind::Double)) return false;
  if (static_cast<int>(values.size()) != param->dimension) return false;
  ParamValue v;
  v.numbers = values;
  if (param->kind == ParamKind::Int) {
    for (double &n : v.numbers) n = param->type == kOfxParamTypeBoolean ? (n != 0.0 ? 1.0 : 0.0) : std::round(n);
  }
  std::lock_guard<std::mutex> lock(param->mutex);
  storeParamValue(*param, atTime, time, std::move(v));
  return true;
}

bool setText(Effect *effect, const std::string &name, bool atTime, double time, const std::string &text) {
  Param *param = findParam(effect, name);
  if (!param || param->kind != ParamKind::Text) return false;
  ParamValue v;
  v.text = std::make_shared<const std::string>(text);
  std::lock_guard<std::mutex> lock(param->mutex);
  storeParamValue(*param, atTime, time, std::move(v));
  return true;
}

}  // namespace

// ---- Shared helpers ----

void makeCurrentHost(const std::shared_ptr<HostState> &state) {
  std::lock_guard<std::mutex> lock(gCurrentMutex);
  gCurrentHost = state;
}

void forgetCurrentHost(const HostState *state) {
  std::lock_guard<std::mutex> lock(gCurrentMutex);
  std::shared_ptr<HostState> current = gCurrentHost.lock();
  if (!current || current.get() == state) gCurrentHost.reset();
}

std::shared_ptr<HostState> currentHost() {
  std::lock_guard<std::mutex> lock(gCurrentMutex);
  return gCurrentHost.lock();
}

OfxStatus callEntry(HostState &state, const char *action, const void *handle, PropertySet *inArgs,
                    PropertySet *outArgs) {
  OfxPluginEntryPoint *entry = state.mainEntry.load();
  if (!entry) return kOfxStatErrFatal;
  return entry(action, handle, inArgs ? inArgs->handle() : nullptr, outArgs ? outArgs->handle() : nullptr);
}

OfxStatus sendInstanceChanged(HostState &state, Effect &effect, const std::string &name, const std::string &type,
                              const std::string &reason, double time) {
  ChangeRecord record;
  record.name = name;
  record.type = type;
  record.reason = reason;
  record.time = time;
  record.depth = tChangeDepth;
  size_t index;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    index = state.changes.size();
    record.status = kOfxStatFailed;
    state.changes.push_back(record);
  }
  if (tChangeDepth >= kMaxChangeDepth) return kOfxStatFailed;  // a plug-in that edits itself forever
  PropertySet in("inArgs");
  in.defineString(kOfxPropType, {type});
  in.defineString(kOfxPropName, {name});
  in.defineString(kOfxPropChangeReason, {reason});
  in.defineDouble(kOfxPropTime, {time});
  in.defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
  ++tChangeDepth;
  const OfxStatus status = callEntry(state, kOfxActionInstanceChanged, effect.handle(), &in, nullptr);
  --tChangeDepth;
  std::lock_guard<std::mutex> lock(state.mutex);
  state.changes[index].status = status;
  return status;
}

ParamKind paramKind(const std::string &type, int &dimension) {
  struct Entry {
    const char *type;
    ParamKind kind;
    int dimension;
  };
  static const Entry kTypes[] = {
      {kOfxParamTypeInteger, ParamKind::Int, 1},     {kOfxParamTypeInteger2D, ParamKind::Int, 2},
      {kOfxParamTypeInteger3D, ParamKind::Int, 3},   {kOfxParamTypeBoolean, ParamKind::Int, 1},
      {kOfxParamTypeChoice, ParamKind::Int, 1},      {kOfxParamTypeDouble, ParamKind::Double, 1},
      {kOfxParamTypeDouble2D, ParamKind::Double, 2}, {kOfxParamTypeDouble3D, ParamKind::Double, 3},
      {kOfxParamTypeRGB, ParamKind::Double, 3},      {kOfxParamTypeRGBA, ParamKind::Double, 4},
      {kOfxParamTypeString, ParamKind::Text, 1},     {kOfxParamTypeCustom, ParamKind::Text, 1},
      {"OfxParamTypeStrChoice", ParamKind::Text, 1}, {kOfxParamTypeGroup, ParamKind::None, 0},
      {kOfxParamTypePage, ParamKind::None, 0},       {kOfxParamTypePushButton, ParamKind::None, 0},
  };
  for (const Entry &e : kTypes) {
    if (type == e.type) {
      dimension = e.dimension;
      return e.kind;
    }
  }
  dimension = -1;
  return ParamKind::None;
}

ParamValue paramValueAt(const Param &param, double time) {
  if (param.keys.empty()) return param.value;
  auto after = param.keys.lower_bound(time);
  if (after != param.keys.end() && after->first == time) return after->second;
  if (after == param.keys.begin()) return after->second;
  auto before = std::prev(after);
  if (after == param.keys.end() || param.kind != ParamKind::Double || std::isnan(time)) return before->second;
  const double t = (time - before->first) / (after->first - before->first);
  ParamValue v = before->second;
  for (size_t i = 0; i < v.numbers.size() && i < after->second.numbers.size(); ++i) {
    v.numbers[i] = before->second.numbers[i] + t * (after->second.numbers[i] - before->second.numbers[i]);
  }
  return v;
}

void storeParamValue(Param &param, bool atTime, double time, ParamValue value) {
  ParamValue &slot = atTime ? param.keys[time] : param.value;
  if (slot.text) param.retired.push_back(slot.text);
  slot = std::move(value);
}

Param *ParamSet::find(const std::string &name) const {
  std::lock_guard<std::mutex> lock(mutex);
  for (const auto &p : params) {
    if (p->name == name) return p.get();
  }
  return nullptr;
}

Param *Param::fromHandle(OfxParamHandle handle) {
  Param *p = reinterpret_cast<Param *>(handle);
  return p && p->magic == kMagic ? p : nullptr;
}

ParamSet *ParamSet::fromHandle(OfxParamSetHandle handle) {
  ParamSet *p = reinterpret_cast<ParamSet *>(handle);
  return p && p->magic == kMagic ? p : nullptr;
}

Clip *Clip::fromHandle(OfxImageClipHandle handle) {
  Clip *c = reinterpret_cast<Clip *>(handle);
  return c && c->magic == kMagic ? c : nullptr;
}

std::shared_ptr<Image> Clip::imageAt(double time) const {
  // A NaN time is no key of the map (it breaks the map's ordering).
  if (time != time) return anyTime;
  auto it = images.find(time);
  if (it != images.end()) return it->second;
  return anyTime;
}

Clip *Effect::findClip(const std::string &name) const {
  std::lock_guard<std::mutex> lock(mutex);
  for (const auto &c : clips) {
    if (c->name == name) return c.get();
  }
  return nullptr;
}

Effect *Effect::fromHandle(OfxImageEffectHandle handle) {
  Effect *e = reinterpret_cast<Effect *>(handle);
  return e && e->magic == kMagic ? e : nullptr;
}

// ---- Host ----

Host::Host(const std::string &path) : state_(std::make_shared<HostState>()) {
  state_->binaryPath = resolveBinaryPath(path);
  state_->bundlePath = bundleOf(state_->binaryPath);
  defineHostProperties(state_->hostProps);
  state_->hostProps.hostTag = state_.get();
  state_->ofxHost.host = state_->hostProps.handle();
  state_->ofxHost.fetchSuite = fetchSuite;
}

Host::~Host() {
  close();
  forgetCurrentHost(state_.get());
}

std::string Host::resolveBinaryPath(const std::string &path) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  fs::path p(trimmed);
  if (!fs::is_directory(p, error)) return path;
  std::string name = p.filename().string();
  const std::string suffix = ".bundle";
  if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name.erase(name.size() - suffix.size());
  }
  return (p / "Contents" / TINTBRIDGE_OFX_ARCH / name).string();
}

const std::string &Host::binaryPath() const { return state_->binaryPath; }

const std::string &Host::lastError() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lastError;
}

void Host::withholdSuite(const std::string &name) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->withheld.insert(name);
}

void Host::provideSuite(const std::string &name) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->withheld.erase(name);
}

bool Host::open() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->library) return true;
  std::string error;
  void *library = openLibrary(state_->binaryPath, error);
  if (!library) {
    state_->lastError = "cannot load " + state_->binaryPath + ": " + error;
    return false;
  }
  auto count = reinterpret_cast<int (*)()>(librarySymbol(library, "OfxGetNumberOfPlugins"));
  auto get = reinterpret_cast<OfxPlugin *(*)(int)>(librarySymbol(library, "OfxGetPlugin"));
  if (!count || !get) {
    closeLibrary(library);
    state_->lastError = state_->binaryPath + " does not export OfxGetNumberOfPlugins and OfxGetPlugin";
    return false;
  }
  state_->library = library;
  state_->getNumberOfPlugins = count;
  state_->getPluginFn = get;
  return true;
}

bool Host::isOpen() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->library != nullptr;
}

int Host::numberOfPlugins() {
  int (*count)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    count = state_->getNumberOfPlugins;
  }
  return count ? count() : -1;
}

OfxPlugin *Host::getPlugin(int nth) {
  OfxPlugin *(*get)(int) = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    get = state_->getPluginFn;
  }
  return get ? get(nth) : nullptr;
}

OfxStatus Host::load() {
  auto fail = [this](OfxStatus status, const std::string &why) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->lastError = why;
    return status;
  };
  if (!open()) return kOfxStatErrFatal;
  if (numberOfPlugins() < 1) return fail(kOfxStatFailed, "the module holds no plug-in");
  OfxPlugin *plugin = getPlugin(0);
  if (!plugin) return fail(kOfxStatFailed, "OfxGetPlugin(0) gave no record");
  if (!plugin->pluginApi || std::strcmp(plugin->pluginApi, kOfxImageEffectPluginApi) != 0 ||
      plugin->apiVersion != kOfxImageEffectPluginApiVersion) {
    return fail(kOfxStatErrUnsupported, "the plug-in is not an image effect of API version 1");
  }
  if (!plugin->setHost || !plugin->mainEntry) return fail(kOfxStatErrFormat, "the plug-in record lacks entry points");
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->plugin = plugin;
  }
  makeCurrentHost(state_);
  plugin->setHost(&state_->ofxHost);
  state_->mainEntry.store(plugin->mainEntry);
  const OfxStatus status = callEntry(*state_, kOfxActionLoad, nullptr, nullptr, nullptr);
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->loaded = succeeded(status);
  if (!state_->loaded) state_->lastError = "the load action failed with status " + std::to_string(status);
  return status;
}

OfxStatus Host::describe() {
  Effect *descriptor = newEffect(*state_, true, "");
  descriptor->props.defineString(kOfxPropType, {kOfxTypeImageEffect});
  descriptor->props.defineString(kOfxPluginPropFilePath, {state_->bundlePath});
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->mainDescriptor = descriptor;
    state_->contextDescriptors.clear();
  }
  return callEntry(*state_, kOfxActionDescribe, descriptor->handle(), nullptr, nullptr);
}

OfxStatus Host::describeInContext(const std::string &context) {
  Effect *main = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    main = state_->mainDescriptor;
  }
  if (!main) {
    const OfxStatus status = describe();
    if (!succeeded(status)) return status;
    std::lock_guard<std::mutex> lock(state_->mutex);
    main = state_->mainDescriptor;
  }
  Effect *descriptor = newEffect(*state_, true, context);
  descriptor->props.copyFrom(main->props);
  descriptor->props.defineString(kOfxImageEffectPropContext, {context});
  PropertySet in("inArgs");
  in.defineString(kOfxImageEffectPropContext, {context});
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->contextDescriptors[context] = descriptor;
  }
  return callEntry(*state_, kOfxImageEffectActionDescribeInContext, descriptor->handle(), &in, nullptr);
}

OfxStatus Host::unload() {
  const OfxStatus status = callEntry(*state_, kOfxActionUnload, nullptr, nullptr, nullptr);
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->loaded = false;
  return status;
}

void Host::close() {
  std::vector<Effect *> live;
  bool loaded;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const auto &e : state_->effects) {
      if (!e->isDescriptor && e->created && !e->destroyed) live.push_back(e.get());
    }
    loaded = state_->loaded;
  }
  for (Effect *e : live) Instance(state_, e, kOfxStatOK).destroy();
  if (loaded) unload();
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->mainEntry.store(nullptr);
  closeLibrary(state_->library);
  state_->library = nullptr;
  state_->getNumberOfPlugins = nullptr;
  state_->getPluginFn = nullptr;
  state_->plugin = nullptr;
  state_->mainDescriptor = nullptr;
  state_->contextDescriptors.clear();
}

const OfxPlugin *Host::plugin() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->plugin;
}

Instance Host::createInstance(const std::string &context) {
  bool loaded;
  Effect *descriptor = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    loaded = state_->loaded;
  }
  if (!loaded) {
    const OfxStatus status = load();
    if (!succeeded(status)) return Instance(state_, nullptr, status);
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->contextDescriptors.find(context);
    if (it != state_->contextDescriptors.end()) descriptor = it->second;
  }
  if (!descriptor) {
    const OfxStatus status = describeInContext(context);
    if (!succeeded(status)) return Instance(state_, nullptr, status);
    std::lock_guard<std::mutex> lock(state_->mutex);
    descriptor = state_->contextDescriptors[context];
  }

  Effect *effect = newEffect(*state_, false, context);
  PropertySet &p = effect->props;
  p.copyFrom(descriptor->props);
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
    std::lock_guard<std::mutex> lock(descriptor->mutex);
    for (const auto &c : descriptor->clips) clips.emplace_back(c->name, &c->props);
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
    std::lock_guard<std::mutex> lock(descriptor->paramSet.mutex);
    for (const auto &prm : descriptor->paramSet.params) params.push_back(prm.get());
  }
  effect->paramSet.props.copyFrom(descriptor->paramSet.props);
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

  const OfxStatus status = callEntry(*state_, kOfxActionCreateInstance, effect->handle(), nullptr, nullptr);
  effect->createStatus = status;
  effect->created = succeeded(status);
  return Instance(state_, effect, status);
}

OfxStatus Host::callAction(const char *action, const void *handle, PropertySet *inArgs, PropertySet *outArgs) {
  return callEntry(*state_, action, handle, inArgs, outArgs);
}

OfxHost *Host::ofxHost() { return &state_->ofxHost; }
PropertySet &Host::hostProperties() { return state_->hostProps; }

PropertySet *Host::descriptor() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->mainDescriptor ? &state_->mainDescriptor->props : nullptr;
}

PropertySet *Host::contextDescriptor(const std::string &context) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->contextDescriptors.find(context);
  return it == state_->contextDescriptors.end() ? nullptr : &it->second->props;
}

OfxImageEffectHandle Host::descriptorHandle() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->mainDescriptor ? state_->mainDescriptor->handle() : nullptr;
}

OfxImageEffectHandle Host::contextDescriptorHandle(const std::string &context) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->contextDescriptors.find(context);
  return it == state_->contextDescriptors.end() ? nullptr : it->second->handle();
}

std::vector<FetchRecord> Host::fetches() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->fetches;
}

std::vector<Definition> Host::definitions() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->definitions;
}

std::vector<Definition> Host::definitions(const std::string &context) const {
  std::vector<Definition> out;
  for (const Definition &d : definitions()) {
    if (d.context == context) out.push_back(d);
  }
  return out;
}

std::vector<Message> Host::messages() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->messages;
}

void Host::clearMessages() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->messages.clear();
}

std::vector<ChangeRecord> Host::changes() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->changes;
}

void Host::clearChanges() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->changes.clear();
}

long Host::badImageReleases() const { return state_->badImageReleases.load(); }

MemoryStats Host::memory() const {
  MemoryAccount &m = *state_->memory;
  std::lock_guard<std::mutex> lock(m.mutex);
  MemoryStats s;
  s.liveBlocks = m.live;
  s.allocations = m.allocations;
  s.frees = m.frees;
  s.failedAllocations = m.failed;
  s.badFrees = m.badFrees;
  return s;
}

void Host::failNextAllocations(long count) {
  MemoryAccount &m = *state_->memory;
  std::lock_guard<std::mutex> lock(m.mutex);
  m.failNext = count > 0 ? count : 0;
}

void Host::failAllocation(long nth) {
  MemoryAccount &m = *state_->memory;
  std::lock_guard<std::mutex> lock(m.mutex);
  m.failAt = nth > 0 ? m.requests + nth : 0;
}

void Host::clearAllocationFaults() {
  MemoryAccount &m = *state_->memory;
  std::lock_guard<std::mutex> lock(m.mutex);
  m.failNext = 0;
  m.failAt = 0;
}

void Host::setQuestionAnswer(OfxStatus answer) { state_->questionAnswer = answer; }
void Host::setCurrentTime(double time) { state_->currentTime = time; }

// ---- Instance ----

OfxStatus Instance::createStatus() const { return effect_ ? effect_->createStatus.load() : status_; }
OfxImageEffectHandle Instance::handle() const { return effect_ ? effect_->handle() : nullptr; }
PropertySet *Instance::properties() const { return effect_ ? &effect_->props : nullptr; }
void *Instance::instanceData() const { return effect_ ? effect_->props.getPointer(kOfxPropInstanceData) : nullptr; }
std::string Instance::context() const { return effect_ ? effect_->context : std::string(); }
bool Instance::destroyed() const { return effect_ && effect_->destroyed; }

PropertySet *Instance::clipProperties(const std::string &clip) const {
  Clip *c = effect_ ? effect_->findClip(clip) : nullptr;
  return c ? &c->props : nullptr;
}

bool Instance::setImage(const std::string &clip, double time, std::shared_ptr<Image> image) {
  Clip *c = effect_ ? effect_->findClip(clip) : nullptr;
  if (!c || time != time) return false;
  if (image) {
    c->props.defineString(kOfxImageEffectPropPixelDepth, {depthName(image->depth())});
    c->props.defineString(kOfxImageEffectPropComponents, {componentsName(image->components())});
  }
  std::lock_guard<std::mutex> lock(c->mutex);
  if (image) {
    c->images[time] = std::move(image);
    c->connected = true;
  } else {
    c->images.erase(time);
  }
  c->props.defineInt(kOfxImageClipPropConnected, {c->connected ? 1 : 0});
  return true;
}

bool Instance::setImage(const std::string &clip, std::shared_ptr<Image> image) {
  Clip *c = effect_ ? effect_->findClip(clip) : nullptr;
  if (!c) return false;
  if (image) {
    c->props.defineString(kOfxImageEffectPropPixelDepth, {depthName(image->depth())});
    c->props.defineString(kOfxImageEffectPropComponents, {componentsName(image->components())});
  }
  std::lock_guard<std::mutex> lock(c->mutex);
  c->anyTime = std::move(image);
  if (c->anyTime) c->connected = true;
  c->props.defineInt(kOfxImageClipPropConnected, {c->connected ? 1 : 0});
  return true;
}

std::shared_ptr<Image> Instance::image(const std::string &clip, double time) const {
  Clip *c = effect_ ? effect_->findClip(clip) : nullptr;
  if (!c) return nullptr;
  std::lock_guard<std::mutex> lock(c->mutex);
  return c->imageAt(time);
}

bool Instance::clearImages(const std::string &clip) {
  Clip *c = effect_ ? effect_->findClip(clip) : nullptr;
  if (!c) return false;
  std::lock_guard<std::mutex> lock(c->mutex);
  c->images.clear();
  c->anyTime.reset();
  return true;
}

bool Instance::setClipConnected(const std::string &clip, bool connected) {
  Clip *c = effect_ ? effect_->findClip(clip) : nullptr;
  if (!c) return false;
  std::lock_guard<std::mutex> lock(c->mutex);
  c->connected = connected;
  c->props.defineInt(kOfxImageClipPropConnected, {connected ? 1 : 0});
  return true;
}

PropertySet *Instance::paramProperties(const std::string &param) const {
  Param *p = findParam(effect_, param);
  return p ? &p->props : nullptr;
}

bool Instance::setParam(const std::string &param, double value) {
  return setNumbers(effect_, param, false, 0.0, {value});
}
bool Instance::setParam(const std::string &param, const std::string &text) {
  return setText(effect_, param, false, 0.0, text);
}
bool Instance::setParamValues(const std::string &param, const std::vector<double> &values) {
  return setNumbers(effect_, param, false, 0.0, values);
}
bool Instance::setParamAt(const std::string &param, double time, double value) {
  return setNumbers(effect_, param, true, time, {value});
}
bool Instance::setParamAt(const std::string &param, double time, const std::string &text) {
  return setText(effect_, param, true, time, text);
}
bool Instance::setParamValuesAt(const std::string &param, double time, const std::vector<double> &values) {
  return setNumbers(effect_, param, true, time, values);
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
