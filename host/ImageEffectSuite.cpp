// The image-effect suite and fetchSuite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "host/Guarded.h"
#include "host/HostInternal.h"

namespace tbhost {

namespace {

OfxStatus getPropertySet(OfxImageEffectHandle handle, OfxPropertySetHandle *out) {
  Effect *effect = Effect::fromHandle(handle);
  if (!effect) return kOfxStatErrBadHandle;
  if (!out) return kOfxStatErrValue;
  *out = effect->props.handle();
  return kOfxStatOK;
}

OfxStatus getParamSet(OfxImageEffectHandle handle, OfxParamSetHandle *out) {
  Effect *effect = Effect::fromHandle(handle);
  if (!effect) return kOfxStatErrBadHandle;
  if (!out) return kOfxStatErrValue;
  *out = effect->paramSet.handle();
  return kOfxStatOK;
}

OfxStatus clipDefine(OfxImageEffectHandle handle, const char *name, OfxPropertySetHandle *out) {
  return guarded([&]() -> OfxStatus {
    Effect *effect = Effect::fromHandle(handle);
    if (!effect || !effect->isDescriptor) return kOfxStatErrBadHandle;
    if (!name || !*name) return kOfxStatErrValue;
    if (effect->findClip(name)) return kOfxStatErrExists;
    std::unique_ptr<Clip> clip(new Clip());
    clip->owner = effect;
    clip->name = name;
    clip->props.defineString(kOfxPropType, {kOfxTypeClip});
    clip->props.defineString(kOfxPropName, {name});
    Clip *raw = clip.get();
    {
      std::lock_guard<std::mutex> lock(effect->mutex);
      effect->clips.push_back(std::move(clip));
    }
    Definition d;
    d.kind = DefinitionKind::Clip;
    d.context = effect->context;
    d.name = name;
    d.properties = &raw->props;
    recordDefinition(*effect->host, std::move(d));
    if (out) *out = raw->props.handle();
    return kOfxStatOK;
  });
}

OfxStatus clipGetHandle(OfxImageEffectHandle handle, const char *name, OfxImageClipHandle *clip,
                        OfxPropertySetHandle *props) {
  Effect *effect = Effect::fromHandle(handle);
  if (!effect || effect->isDescriptor) return kOfxStatErrBadHandle;
  if (!name) return kOfxStatErrUnknown;
  Clip *c = effect->findClip(name);
  if (!c) return kOfxStatErrUnknown;
  if (!clip) return kOfxStatErrValue;
  *clip = c->handle();
  if (props) *props = c->props.handle();
  return kOfxStatOK;
}

OfxStatus clipGetPropertySet(OfxImageClipHandle handle, OfxPropertySetHandle *out) {
  Clip *clip = Clip::fromHandle(handle);
  if (!clip) return kOfxStatErrBadHandle;
  if (!out) return kOfxStatErrValue;
  *out = clip->props.handle();
  return kOfxStatOK;
}

OfxStatus clipGetImage(OfxImageClipHandle handle, OfxTime time, const OfxRectD *region, OfxPropertySetHandle *out) {
  return guarded([&]() -> OfxStatus {
    Clip *clip = Clip::fromHandle(handle);
    if (!clip || clip->owner->isDescriptor) return kOfxStatErrBadHandle;
    if (!out) return kOfxStatErrValue;
    const RenderContext *render = activeRender();
    const bool inRender = render && render->effect == clip->owner;
    // A host without temporal access gives a render only its own frame (a
    // NaN time, which equals nothing, is its own frame too).
    if (inRender && time != render->time && !(std::isnan(time) && std::isnan(render->time)) &&
        !hostHasTemporalAccess(*clip->owner->host))
      return kOfxStatFailed;
    {
      std::lock_guard<std::mutex> lock(clip->mutex);
      if (!clip->connected) return kOfxStatFailed;
    }
    const ClipImage slot = clipImageAt(*clip, time);
    if (!slot.image) return kOfxStatFailed;
    std::shared_ptr<Image> image = deliveredImage(*clip, slot, region);
    if (!image) return kOfxStatFailed;
    std::unique_ptr<FetchedImage> fetched(new FetchedImage());
    fetched->owner = clip->owner;
    fetched->image = image;
    ImageRecord &r = fetched->record;
    r.clip = clip->name;
    r.time = time;
    r.bounds = image->bounds();
    r.components = componentsName(image->components());
    r.depth = depthName(image->depth());
    r.premultiplication = clip->props.getString(kOfxImageEffectPropPreMultiplication, 0, kOfxImageUnPreMultiplied);
    if (clip->owner->host->imageIdentifiers) {
      r.identifier = clip->name + "#" + std::to_string(slot.serial) + "@" + std::to_string(time);
    }
    PropertySet &p = fetched->props;
    const OfxRectI &b = r.bounds;
    const OfxRectI &rod = slot.image->bounds();
    p.defineString(kOfxPropType, {kOfxTypeImage});
    p.defineString(kOfxImageEffectPropPixelDepth, {r.depth});
    p.defineString(kOfxImageEffectPropComponents, {r.components});
    p.defineString(kOfxImageEffectPropPreMultiplication, {r.premultiplication});
    p.defineDouble(kOfxImageEffectPropRenderScale, {inRender ? render->scaleX : 1.0, inRender ? render->scaleY : 1.0});
    p.defineDouble(kOfxImagePropPixelAspectRatio, {clip->props.getDouble(kOfxImagePropPixelAspectRatio, 0, 1.0)});
    p.definePointer(kOfxImagePropData, {image->data()});
    p.defineInt(kOfxImagePropBounds, {b.x1, b.y1, b.x2, b.y2});
    p.defineInt(kOfxImagePropRegionOfDefinition, {rod.x1, rod.y1, rod.x2, rod.y2});
    p.defineInt(kOfxImagePropRowBytes, {image->rowBytes()});
    p.defineString("OfxImagePropField", {"OfxFieldNone"});
    if (!r.identifier.empty()) p.defineString(kOfxImagePropUniqueIdentifier, {r.identifier});
    p.hostTag = fetched.get();
    OfxPropertySetHandle result = p.handle();
    Effect *effect = clip->owner;
    {
      std::lock_guard<std::mutex> lock(effect->ledgerMutex);
      effect->fetched.push_back(std::move(fetched));
    }
    *out = result;
    return kOfxStatOK;
  });
}

OfxStatus clipReleaseImage(OfxPropertySetHandle handle) {
  PropertySet *set = PropertySet::fromHandle(handle);
  FetchedImage *fetched = set && set->label() == "image" ? static_cast<FetchedImage *>(set->hostTag) : nullptr;
  if (!fetched) {
    std::shared_ptr<HostState> state = currentHost();
    if (state) ++state->badImageReleases;
    return kOfxStatErrBadHandle;
  }
  Effect *effect = fetched->owner;
  if (!effect) return kOfxStatErrBadHandle;
  std::shared_ptr<Image> keep;
  {
    std::lock_guard<std::mutex> lock(effect->ledgerMutex);
    if (fetched->record.released) {
      ++effect->doubleReleases;
      return kOfxStatErrBadHandle;
    }
    fetched->record.released = true;
    ++effect->released;
    keep.swap(fetched->image);
  }
  fetched->props.clear();
  return kOfxStatOK;
}

// The bounds of the image connected to the clip; nothing when it has none.
OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime time, OfxRectD *bounds) {
  return guarded([&]() -> OfxStatus {
    Clip *clip = Clip::fromHandle(handle);
    if (!clip || clip->owner->isDescriptor) return kOfxStatErrBadHandle;
    if (!bounds) return kOfxStatErrValue;
    bool connected;
    {
      std::lock_guard<std::mutex> lock(clip->mutex);
      connected = clip->connected;
    }
    const std::shared_ptr<Image> image = connected ? clipImageAt(*clip, time).image : nullptr;
    *bounds = image ? canonicalRegion(*clip, image->bounds()) : OfxRectD{0.0, 0.0, 0.0, 0.0};
    return kOfxStatOK;
  });
}

int abortRender(OfxImageEffectHandle handle) {
  Effect *effect = Effect::fromHandle(handle);
  if (!effect || effect->isDescriptor) return 0;
  const long call = ++effect->abortCalls;
  const long from = effect->abortFrom.load();
  if (from >= 0 && call >= from) return 1;
  try {
    std::function<bool()> test;
    {
      std::lock_guard<std::mutex> lock(effect->abortMutex);
      test = effect->abortTest;
    }
    return test && test() ? 1 : 0;
  } catch (...) {
    return 1;  // a test that cannot answer stops the render
  }
}

struct ImageMemory {
  static constexpr uint32_t kMagic = 0x494d454du;  // "IMEM"
  uint32_t magic = kMagic;
  void *block = nullptr;  // as malloc gave it
  void *data = nullptr;   // 16-byte aligned inside `block`
  int locks = 0;
};

OfxStatus imageMemoryAlloc(OfxImageEffectHandle, size_t bytes, OfxImageMemoryHandle *out) {
  if (!out) return kOfxStatErrValue;
  ImageMemory *memory = new (std::nothrow) ImageMemory();
  // Over-allocate and align by hand: Windows has no aligned_alloc.
  void *block = memory && bytes < SIZE_MAX - 16 ? std::malloc(bytes + 16) : nullptr;
  if (!block) {
    delete memory;
    return kOfxStatErrMemory;
  }
  memory->block = block;
  memory->data = reinterpret_cast<void *>((reinterpret_cast<uintptr_t>(block) + 15) & ~uintptr_t(15));
  *out = reinterpret_cast<OfxImageMemoryHandle>(memory);
  return kOfxStatOK;
}

ImageMemory *imageMemory(OfxImageMemoryHandle handle) {
  ImageMemory *m = reinterpret_cast<ImageMemory *>(handle);
  return m && m->magic == ImageMemory::kMagic ? m : nullptr;
}

OfxStatus imageMemoryFree(OfxImageMemoryHandle handle) {
  ImageMemory *m = imageMemory(handle);
  if (!m) return kOfxStatErrBadHandle;
  m->magic = 0;
  std::free(m->block);
  delete m;
  return kOfxStatOK;
}

OfxStatus imageMemoryLock(OfxImageMemoryHandle handle, void **out) {
  ImageMemory *m = imageMemory(handle);
  if (!m) return kOfxStatErrBadHandle;
  if (!out) return kOfxStatErrValue;
  ++m->locks;
  *out = m->data;
  return kOfxStatOK;
}

OfxStatus imageMemoryUnlock(OfxImageMemoryHandle handle) {
  ImageMemory *m = imageMemory(handle);
  if (!m) return kOfxStatErrBadHandle;
  if (m->locks > 0) --m->locks;
  return kOfxStatOK;
}

const OfxImageEffectSuiteV1 kImageEffectSuite = {
    getPropertySet,   getParamSet,     clipDefine,        clipGetHandle,      clipGetPropertySet,
    clipGetImage,     clipReleaseImage, clipGetRegionOfDefinition, abortRender, imageMemoryAlloc,
    imageMemoryFree,  imageMemoryLock, imageMemoryUnlock,
};

}  // namespace

const OfxImageEffectSuiteV1 *imageEffectSuite() { return &kImageEffectSuite; }

const void *fetchSuite(OfxPropertySetHandle hostHandle, const char *name, int version) {
  PropertySet *set = PropertySet::fromHandle(hostHandle);
  HostState *state = set ? static_cast<HostState *>(set->hostTag) : nullptr;
  if (!state || !name) return nullptr;
  const void *suite = nullptr;
  if (version == 1) {
    const std::string n = name;
    if (n == kOfxPropertySuite) suite = propertySuite();
    else if (n == kOfxImageEffectSuite) suite = imageEffectSuite();
    else if (n == kOfxParameterSuite) suite = parameterSuite();
    else if (n == kOfxMemorySuite) suite = memorySuite();
    else if (n == kOfxMultiThreadSuite) suite = multiThreadSuite();
    else if (n == kOfxMessageSuite) suite = messageSuite();
  }
  try {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->withheld.count(name)) suite = nullptr;
    state->fetches.push_back(FetchRecord{name, version, suite != nullptr});
  } catch (...) {
    return nullptr;
  }
  return suite;
}

}  // namespace tbhost
