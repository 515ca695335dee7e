// The render and is-identity actions: decide whether the instance's LUT still
// fits the inputs, rebuild it when it does not, and map the render window.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "lut/FastLookup.h"
#include "lut/MatchLut.h"
#include "match/ClipStats.h"
#include "match/LutBuilders.h"
#include "plugin/Actions.h"
#include "plugin/DebugLog.h"
#include "plugin/HostSuites.h"
#include "plugin/MatchInstance.h"

namespace {

enum PixelDepth { kDepthUnusable = 0, kDepthByte = 1, kDepthShort = 2, kDepthFloat = 4 };

// What one image's properties say, read once before any lock is taken.
struct ImageInfo {
  OfxPropertySetHandle handle = nullptr;  // to release; may be set while unusable
  char *data = nullptr;
  int rowBytes = 0;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int width = 0, height = 0;
  int depth = kDepthUnusable;  // bytes per component
  int components = 0;
  bool usable = false;
};

int depthOf(const char *depth) {
  if (depth == nullptr || std::strcmp(depth, kOfxBitDepthFloat) == 0) return kDepthFloat;
  if (std::strcmp(depth, kOfxBitDepthShort) == 0) return kDepthShort;
  if (std::strcmp(depth, kOfxBitDepthByte) == 0) return kDepthByte;
  return kDepthUnusable;
}

int componentsOf(const char *components) {
  if (components != nullptr && std::strcmp(components, kOfxImageComponentAlpha) == 0) return 1;
  if (components != nullptr && std::strcmp(components, kOfxImageComponentRGB) == 0) return 3;
  return 4;  // RGBA, unrecognised and absent alike
}

// Reads an image's geometry and format. An image without data, with a depth
// we cannot read, or (for a colour image) with a single component counts as
// absent.
void readImage(OfxPropertySetHandle image, bool isMask, ImageInfo &info) {
  info = ImageInfo();
  info.handle = image;
  if (image == nullptr) return;
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  void *data = nullptr;
  props->propGetPointer(image, kOfxImagePropData, 0, &data);
  int rowBytes = 0;
  props->propGetInt(image, kOfxImagePropRowBytes, 0, &rowBytes);
  int bounds[4] = {0, 0, 0, 0};
  props->propGetIntN(image, kOfxImagePropBounds, 4, bounds);
  char *depth = nullptr;
  props->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth);
  char *components = nullptr;
  props->propGetString(image, kOfxImageEffectPropComponents, 0, &components);

  info.data = static_cast<char *>(data);
  info.rowBytes = rowBytes;
  info.x1 = bounds[0];
  info.y1 = bounds[1];
  info.x2 = bounds[2];
  info.y2 = bounds[3];
  const int64_t w = static_cast<int64_t>(bounds[2]) - bounds[0];
  const int64_t h = static_cast<int64_t>(bounds[3]) - bounds[1];
  info.width = (w > 0 && w <= INT32_MAX) ? static_cast<int>(w) : 0;
  info.height = (h > 0 && h <= INT32_MAX) ? static_cast<int>(h) : 0;
  if (info.width == 0) info.x2 = info.x1;
  if (info.height == 0) info.y2 = info.y1;
  info.depth = depthOf(depth);
  info.components = componentsOf(components);
  info.usable = info.data != nullptr && info.depth != kDepthUnusable && (isMask || info.components != 1);
}

inline const char *pixelAddress(const ImageInfo &img, int x, int y) {
  return img.data + static_cast<int64_t>(y - img.y1) * img.rowBytes +
         static_cast<int64_t>(x - img.x1) * img.components * img.depth;
}

// Component conversion to and from float in [0, 1].
template <class T>
inline float toFloat(T v);
template <>
inline float toFloat<float>(float v) {
  return v;
}
template <>
inline float toFloat<uint8_t>(uint8_t v) {
  return static_cast<float>(v) / 255.0f;
}
template <>
inline float toFloat<uint16_t>(uint16_t v) {
  return static_cast<float>(v) / 65535.0f;
}

template <class T>
inline T fromFloat(float v);
template <>
inline float fromFloat<float>(float v) {
  return v;
}
template <>
inline uint8_t fromFloat<uint8_t>(float v) {
  return static_cast<uint8_t>(clampColor(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}
template <>
inline uint16_t fromFloat<uint16_t>(float v) {
  return static_cast<uint16_t>(clampColor(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
}

// Clamp to 1 first (a NaN becomes 1), then to 0.
inline float clampUnit(float v) {
  const float t = (v < 1.0f) ? v : 1.0f;
  return (t > 0.0f) ? t : 0.0f;
}

struct MixStrengths {
  float s[3];
};

// Maps the part of `area` inside the output: each pixel the clamped source,
// looked up and mixed when a LUT applies; transparent black where the source
// has no pixel.
template <class In, int InC, class Out, int OutC, bool Apply>
void mapArea(const ImageInfo &src, const ImageInfo &dst, int ax1, int ay1, int ax2, int ay2, const MatchLut *lut,
             const MixStrengths &mix) {
  const float s0 = mix.s[0], s1 = mix.s[1], s2 = mix.s[2];
  const float k0 = 1.0f - s0, k1 = 1.0f - s1, k2 = 1.0f - s2;
  for (int y = ay1; y < ay2; ++y) {
    Out *out = reinterpret_cast<Out *>(const_cast<char *>(pixelAddress(dst, ax1, y)));
    int sx1 = ax1, sx2 = ax1;  // columns with a source pixel
    if (y >= src.y1 && y < src.y2) {
      sx1 = ax1 > src.x1 ? ax1 : src.x1;
      sx2 = ax2 < src.x2 ? ax2 : src.x2;
      if (sx2 < sx1) sx2 = sx1;
    }
    int x = ax1;
    for (; x < sx1 && x < ax2; ++x, out += OutC)
      for (int c = 0; c < OutC; ++c) out[c] = fromFloat<Out>(0.0f);
    if (sx2 > sx1) {
      const In *in = reinterpret_cast<const In *>(pixelAddress(src, sx1, y));
      if constexpr (Apply && std::is_same<In, float>::value && InC == 4 && std::is_same<Out, float>::value &&
                    OutC == 4) {
        mapPixelsFloatRgba(in, out, sx2 - sx1, *lut, mix.s);
        out += static_cast<int64_t>(sx2 - sx1) * 4;
        x = sx2;
      }
      for (; x < sx2; ++x, in += InC, out += OutC) {
        float r = clampUnit(toFloat<In>(in[0]));
        float g = clampUnit(toFloat<In>(in[1]));
        float b = clampUnit(toFloat<In>(in[2]));
        if (Apply) {
          float l[4];
          lookupFast(*lut, r, g, b, l);
          r = k0 * r + s0 * l[0];
          g = k1 * g + s1 * l[1];
          b = k2 * b + s2 * l[2];
        }
        out[0] = fromFloat<Out>(r);
        out[1] = fromFloat<Out>(g);
        out[2] = fromFloat<Out>(b);
        if (OutC == 4) out[3] = InC == 4 ? fromFloat<Out>(toFloat<In>(in[3])) : fromFloat<Out>(1.0f);
      }
    }
    for (; x < ax2; ++x, out += OutC)
      for (int c = 0; c < OutC; ++c) out[c] = fromFloat<Out>(0.0f);
  }
}

typedef void (*MapFunction)(const ImageInfo &, const ImageInfo &, int, int, int, int, const MatchLut *,
                            const MixStrengths &);

template <class In, int InC, bool Apply>
MapFunction pickOutput(const ImageInfo &dst) {
  const bool rgb = dst.components == 3;
  switch (dst.depth) {
    case kDepthByte:
      return rgb ? mapArea<In, InC, uint8_t, 3, Apply> : mapArea<In, InC, uint8_t, 4, Apply>;
    case kDepthShort:
      return rgb ? mapArea<In, InC, uint16_t, 3, Apply> : mapArea<In, InC, uint16_t, 4, Apply>;
    default:
      return rgb ? mapArea<In, InC, float, 3, Apply> : mapArea<In, InC, float, 4, Apply>;
  }
}

template <bool Apply>
MapFunction pickMapper(const ImageInfo &src, const ImageInfo &dst) {
  const bool rgb = src.components == 3;
  switch (src.depth) {
    case kDepthByte:
      return rgb ? pickOutput<uint8_t, 3, Apply>(dst) : pickOutput<uint8_t, 4, Apply>(dst);
    case kDepthShort:
      return rgb ? pickOutput<uint16_t, 3, Apply>(dst) : pickOutput<uint16_t, 4, Apply>(dst);
    default:
      return rgb ? pickOutput<float, 3, Apply>(dst) : pickOutput<float, 4, Apply>(dst);
  }
}

// A float view of an image for the builders: the image itself when it is
// float with `components` channels, else a converted copy that `storage` owns.
struct FloatView {
  const float *pixels = nullptr;
  int width = 0, height = 0, rowBytes = 0;
  std::unique_ptr<float[]> storage;
};

template <class T>
void convertRows(const ImageInfo &img, int channels, float *outPixels) {
  for (int y = 0; y < img.height; ++y) {
    const T *in = reinterpret_cast<const T *>(img.data + static_cast<int64_t>(y) * img.rowBytes);
    float *out = outPixels + static_cast<int64_t>(y) * img.width * channels;
    for (int x = 0; x < img.width; ++x, in += img.components, out += channels) {
      for (int c = 0; c < channels; ++c) {
        if (c < img.components)
          out[c] = toFloat<T>(in[c]);
        else
          out[c] = 1.0f;  // opaque alpha for RGB images
      }
    }
  }
}

// `channels` is 4 for colour images and the image's own count for masks.
bool floatView(const ImageInfo &img, int channels, FloatView &view) {
  view.width = img.width;
  view.height = img.height;
  if (img.depth == kDepthFloat && img.components == channels) {
    view.pixels = reinterpret_cast<const float *>(img.data);
    view.rowBytes = img.rowBytes;
    return true;
  }
  const int64_t count = static_cast<int64_t>(img.width) * img.height * channels;
  const int64_t rowBytes = static_cast<int64_t>(img.width) * channels * 4;
  if (rowBytes > INT32_MAX) return false;
  view.storage.reset(new (std::nothrow) float[count > 0 ? static_cast<size_t>(count) : 1]);
  if (!view.storage) return false;
  if (img.depth == kDepthByte)
    convertRows<uint8_t>(img, channels, view.storage.get());
  else if (img.depth == kDepthShort)
    convertRows<uint16_t>(img, channels, view.storage.get());
  else
    convertRows<float>(img, channels, view.storage.get());
  view.pixels = view.storage.get();
  view.rowBytes = static_cast<int>(rowBytes);
  return true;
}

struct BuildInputs {
  double time;
  int matchMode;
  int preserveMode;
  bool hasSourceMask;
  bool hasReferenceMask;
};

bool keysMatch(const MatchInstance &instance, const BuildInputs &in) {
  return instance.lut && instance.lut->valid && instance.lut->data != nullptr &&
         instance.cachedSourceTime == in.time && instance.cachedReferenceTime == in.time &&
         instance.cachedMatchMode == in.matchMode && instance.cachedPreserveMode == in.preserveMode &&
         instance.cachedHadSourceMask == in.hasSourceMask && instance.cachedHadReferenceMask == in.hasReferenceMask;
}

// Fills `grid` from the images with the builder of the match mode. False when
// scratch memory for converted images could not be had.
bool buildInto(MatchLut &grid, const BuildInputs &in, const ImageInfo &src, const ImageInfo &ref,
               const ImageInfo &sourceMask, const ImageInfo &referenceMask) {
  FloatView s, r;
  if (!floatView(src, 4, s) || !floatView(ref, 4, r)) return false;
  if (in.matchMode == kMatchSameFrame) {
    buildSameFrameLut(s.pixels, s.width, s.height, s.rowBytes, r.pixels, r.width, r.height, r.rowBytes, grid, 5.0f,
                      in.preserveMode);
    return true;
  }
  FloatView sm, rm;
  MaskView sourceView = {nullptr, 0, 0, 0, 0};
  MaskView referenceView = {nullptr, 0, 0, 0, 0};
  if (in.hasSourceMask) {
    if (!floatView(sourceMask, sourceMask.components, sm)) return false;
    sourceView = {sm.pixels, sm.width, sm.height, sm.rowBytes, sourceMask.components};
  }
  if (in.hasReferenceMask) {
    if (!floatView(referenceMask, referenceMask.components, rm)) return false;
    referenceView = {rm.pixels, rm.width, rm.height, rm.rowBytes, referenceMask.components};
  }
  buildDifferentClipsLut(s.pixels, s.width, s.height, s.rowBytes, r.pixels, r.width, r.height, r.rowBytes, grid,
                         5.0f, kColorSpaceLab, in.preserveMode, in.hasSourceMask ? &sourceView : nullptr,
                         in.hasReferenceMask ? &referenceView : nullptr);
  return true;
}

// The LUT to apply for these inputs: the published one when its keys match,
// else a fresh build that is then published. Null when nothing applies.
std::shared_ptr<MatchLut> lutForRender(MatchInstance &instance, const BuildInputs &in, const ImageInfo &src,
                                       const ImageInfo &ref, const ImageInfo &sourceMask,
                                       const ImageInfo &referenceMask) {
  {
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (keysMatch(instance, in)) return instance.lut;
  }
  // One build at a time; a render that waited here usually finds the LUT it
  // needs already built by the render it waited for.
  std::lock_guard<std::mutex> build(instance.buildLock);
  uint64_t generation;
  {
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (keysMatch(instance, in)) return instance.lut;
    generation = instance.generation;
  }
  std::shared_ptr<MatchLut> grid = takePooledLut(instance.lutPool);
  if (!grid || !grid->allocate(65) || !buildInto(*grid, in, src, ref, sourceMask, referenceMask)) {
    debugLog("Tintbridge: LUT allocation failed\n");
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (instance.lut) instance.lut->valid = false;
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(instance.stateLock);
  instance.lut = grid;
  ++instance.buildCount;
  instance.cachedSourceTime = in.time;
  instance.cachedReferenceTime = in.time;
  instance.cachedMatchMode = in.matchMode;
  instance.cachedPreserveMode = in.preserveMode;
  instance.cachedHadSourceMask = in.hasSourceMask;
  instance.cachedHadReferenceMask = in.hasReferenceMask;
  // An invalidation that came in during the build may concern inputs that
  // this build read before it; the next render builds again.
  if (instance.generation != generation) grid->valid = false;
  return grid;
}

double paramAt(OfxParamHandle param, double time, double fallback) {
  double value = fallback;
  if (param != nullptr) gHostSuites.parameterSuite->paramGetValueAtTime(param, time, &value);
  return value;
}

int choiceAt(OfxParamHandle param, double time) {
  int value = 0;
  if (param != nullptr) gHostSuites.parameterSuite->paramGetValueAtTime(param, time, &value);
  return value;
}

// A strength product for the mix, kept within [0, 1] (a NaN becomes 1) so that
// the output stays within the range of its inputs.
float mixStrength(double channel, double master) { return clampUnit(static_cast<float>(channel * master)); }

}  // namespace

OfxStatus renderAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;

  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  const OfxImageEffectSuiteV1 *fx = gHostSuites.imageEffectSuite;
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  int window[4] = {0, 0, 0, 0};
  props->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, window);

  OfxPropertySetHandle images[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  enum { kSource, kReference, kOutput, kSourceMask, kReferenceMask };
  if (instance->sourceClip != nullptr) fx->clipGetImage(instance->sourceClip, time, nullptr, &images[kSource]);
  if (instance->referenceClip != nullptr)
    fx->clipGetImage(instance->referenceClip, time, nullptr, &images[kReference]);
  if (instance->outputClip != nullptr) fx->clipGetImage(instance->outputClip, time, nullptr, &images[kOutput]);
  if (instance->sourceMaskClip != nullptr)
    fx->clipGetImage(instance->sourceMaskClip, time, nullptr, &images[kSourceMask]);
  if (instance->referenceMaskClip != nullptr)
    fx->clipGetImage(instance->referenceMaskClip, time, nullptr, &images[kReferenceMask]);

  ImageInfo info[5];
  for (int i = 0; i < 5; ++i) readImage(images[i], i == kSourceMask || i == kReferenceMask, info[i]);

  auto releaseAll = [&](const int *order) {
    for (int i = 0; i < 5; ++i)
      if (images[order[i]] != nullptr) fx->clipReleaseImage(images[order[i]]);
  };
  if (!info[kSource].usable || !info[kOutput].usable) {
    static const int failOrder[5] = {kSource, kReference, kOutput, kSourceMask, kReferenceMask};
    releaseAll(failOrder);
    return kOfxStatFailed;
  }

  const double strength = paramAt(instance->strengthParam, time, 1.0);
  const double strengthR = paramAt(instance->strengthRParam, time, 1.0);
  const double strengthG = paramAt(instance->strengthGParam, time, 1.0);
  const double strengthB = paramAt(instance->strengthBParam, time, 1.0);
  BuildInputs in;
  in.time = time;
  in.matchMode = choiceAt(instance->matchModeParam, time);
  in.preserveMode = choiceAt(instance->preserveModeParam, time);
  in.hasSourceMask = info[kSourceMask].usable;
  in.hasReferenceMask = info[kReferenceMask].usable;

  std::shared_ptr<MatchLut> lut;
  if (info[kReference].usable)
    lut = lutForRender(*instance, in, info[kSource], info[kReference], info[kSourceMask], info[kReferenceMask]);

  // The part of the window that lies inside the output.
  const ImageInfo &dst = info[kOutput];
  const int ax1 = window[0] > dst.x1 ? window[0] : dst.x1;
  const int ay1 = window[1] > dst.y1 ? window[1] : dst.y1;
  const int ax2 = window[2] < dst.x2 ? window[2] : dst.x2;
  const int ay2 = window[3] < dst.y2 ? window[3] : dst.y2;
  if (ax2 > ax1 && ay2 > ay1) {
    MixStrengths mix = {{mixStrength(strengthR, strength), mixStrength(strengthG, strength),
                         mixStrength(strengthB, strength)}};
    const bool apply = lut != nullptr && lut->data != nullptr;
    MapFunction map = apply ? pickMapper<true>(info[kSource], dst) : pickMapper<false>(info[kSource], dst);
    map(info[kSource], dst, ax1, ay1, ax2, ay2, lut.get(), mix);
  }

  static const int doneOrder[5] = {kSource, kReference, kSourceMask, kReferenceMask, kOutput};
  releaseAll(doneOrder);
  return kOfxStatOK;
}

OfxStatus isIdentityAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs) {
  MatchInstance *instance = findInstance(effect);
  if (instance == nullptr) return kOfxStatErrBadHandle;
  const OfxPropertySuiteV1 *props = gHostSuites.propertySuite;
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  double strength = 1.0;
  if (instance->strengthParam != nullptr)
    gHostSuites.parameterSuite->paramGetValueAtTime(instance->strengthParam, time, &strength);
  if (strength <= 0.0) {
    props->propSetString(outArgs, kOfxPropName, 0, "Source");
    props->propSetDouble(outArgs, kOfxPropTime, 0, time);
    return kOfxStatOK;
  }
  return kOfxStatReplyDefault;
}
