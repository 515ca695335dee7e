#include "plugin/ClipImages.h"

#include <cstdint>
#include <cstring>

#include "plugin/HostSuites.h"

namespace {

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

int extent(int from, int to) {
  const int64_t e = static_cast<int64_t>(to) - from;
  return (e > 0 && e <= INT32_MAX) ? static_cast<int>(e) : 0;
}

}  // namespace

OfxPropertySetHandle fetchImage(OfxImageClipHandle clip, double time) {
  OfxPropertySetHandle image = nullptr;
  if (clip != nullptr) gHostSuites.imageEffectSuite->clipGetImage(clip, time, nullptr, &image);
  return image;
}

ClipImage readImage(OfxPropertySetHandle image, bool isMask) {
  ClipImage info;
  info.handle = image;
  if (image == nullptr) return info;
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

  PixelImage &p = info.pixels;
  p.data = static_cast<char *>(data);
  p.rowBytes = rowBytes;
  p.x1 = bounds[0];
  p.y1 = bounds[1];
  p.width = extent(bounds[0], bounds[2]);
  p.height = extent(bounds[1], bounds[3]);
  p.x2 = p.width == 0 ? p.x1 : bounds[2];
  p.y2 = p.height == 0 ? p.y1 : bounds[3];
  p.depth = depthOf(depth);
  p.components = componentsOf(components);
  info.usable = p.data != nullptr && p.depth != kDepthUnusable && (isMask || p.components != 1);
  return info;
}

void releaseImage(ClipImage &image) {
  if (image.handle != nullptr) gHostSuites.imageEffectSuite->clipReleaseImage(image.handle);
  image.handle = nullptr;
}
