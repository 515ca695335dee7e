// The objects behind the OFX handles: making them, recognising a handle the
// plug-in passes back, and finding clips and parameters by name. Also the
// host that null-handle calls are answered for.
#include <iterator>
#include <memory>
#include <mutex>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

std::mutex gCurrentMutex;
std::weak_ptr<HostState> gCurrentHost;

}  // namespace

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

void recordDefinition(HostState &state, Definition definition) {
  std::lock_guard<std::mutex> lock(state.mutex);
  state.definitions.push_back(std::move(definition));
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

unsigned long long newImageSerial() {
  static std::atomic<unsigned long long> serial{0};
  return ++serial;
}

ClipImage Clip::slotAt(double time) const {
  // A NaN time is no key of the map (it breaks the map's ordering).
  if (time != time) return anyTime;
  auto it = images.find(time);
  if (it != images.end()) return it->second;
  return anyTime;
}

ClipImage clipImageAt(Clip &clip, double time) {
  Instance::ImageProvider provider;
  unsigned long long serial;
  {
    std::lock_guard<std::mutex> lock(clip.mutex);
    if (time == time && clip.images.count(time)) return clip.images.at(time);
    if (!clip.provider || time != time) return clip.anyTime;
    auto held = clip.provided.find(time);
    if (held != clip.provided.end()) {
      if (std::shared_ptr<Image> image = held->second.lock()) return ClipImage{image, clip.providerSerial};
    }
    provider = clip.provider;
    serial = clip.providerSerial;
  }
  std::shared_ptr<Image> image = provider(time);
  if (!image) return ClipImage();
  {
    std::lock_guard<std::mutex> lock(clip.mutex);
    if (clip.providerSerial != serial) return ClipImage{image, serial};  // the provider changed meanwhile
    for (auto it = clip.provided.begin(); it != clip.provided.end();) {
      it = it->second.expired() ? clip.provided.erase(it) : std::next(it);
    }
    clip.provided[time] = image;
  }
  if (describeImage(clip, *image)) markClipPreferencesStale(*clip.owner);
  return ClipImage{image, serial};
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

}  // namespace tbhost
