// The host: its properties, loading the plug-in and describing it, making
// instances, and the records it keeps for tests.
#include "host/Host.h"

#include <cstring>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

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

}  // namespace

Host::Host(const std::string &path) : state_(std::make_shared<HostState>()) {
  state_->binaryPath = resolveBinaryPath(path);
  state_->bundlePath = bundleOfBinary(state_->binaryPath);
  defineHostProperties(state_->hostProps);
  state_->hostProps.hostTag = state_.get();
  state_->ofxHost.host = state_->hostProps.handle();
  state_->ofxHost.fetchSuite = fetchSuite;
}

Host::~Host() {
  close();
  forgetCurrentHost(state_.get());
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

void Host::setTemporalAccess(int value) { state_->hostProps.defineInt(kOfxImageEffectPropTemporalClipAccess, {value}); }
void Host::removeTemporalAccess() { state_->hostProps.remove(kOfxImageEffectPropTemporalClipAccess); }

bool hostHasTemporalAccess(const HostState &state) {
  return state.hostProps.getInt(kOfxImageEffectPropTemporalClipAccess, 0, 0) == 1;
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

  Effect *effect = newInstance(*state_, *descriptor, context);
  const OfxStatus status = callEntry(*state_, kOfxActionCreateInstance, effect->handle(), nullptr, nullptr);
  effect->createStatus = status;
  effect->created = succeeded(status);
  if (effect->created) askClipPreferences(*state_, *effect);
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
void Host::giveImageIdentifiers(bool give) { state_->imageIdentifiers = give; }

}  // namespace tbhost
