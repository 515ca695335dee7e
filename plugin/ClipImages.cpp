#include "plugin/ClipImages.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
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
  // Rows shorter than their pixels (row bytes the host did not give, or a
  // format read wrongly) would be read and written past their ends.
  const int64_t pixelRow = static_cast<int64_t>(p.width) * p.components * p.depth;
  info.usable = p.data != nullptr && p.depth != kDepthUnusable && (isMask || p.components != 1) &&
                std::llabs(static_cast<int64_t>(rowBytes)) >= pixelRow;
  char *premultiplication = nullptr;
  if (props->propGetString(image, kOfxImageEffectPropPreMultiplication, 0, &premultiplication) == kOfxStatOK &&
      premultiplication != nullptr)
    info.premultiplied = std::strcmp(premultiplication, kOfxImagePreMultiplied) == 0;
  char *id = nullptr;
  if (props->propGetString(image, kOfxImagePropUniqueIdentifier, 0, &id) == kOfxStatOK && id != nullptr)
    info.uniqueId = id;
  return info;
}

bool coversClip(const ClipImage &image, OfxImageClipHandle clip, double time, const double renderScale[2]) {
  if (clip == nullptr || gHostSuites.imageEffectSuite->clipGetRegionOfDefinition == nullptr) return true;
  OfxRectD rod = {0.0, 0.0, 0.0, 0.0};
  if (gHostSuites.imageEffectSuite->clipGetRegionOfDefinition(clip, time, &rod) != kOfxStatOK) return true;
  const double sx = renderScale[0] > 0.0 ? renderScale[0] : 1.0;
  const double sy = renderScale[1] > 0.0 ? renderScale[1] : 1.0;
  // The pixels that the region touches, at the render scale.
  const double x1 = std::floor(rod.x1 * sx), y1 = std::floor(rod.y1 * sy);
  const double x2 = std::ceil(rod.x2 * sx), y2 = std::ceil(rod.y2 * sy);
  if (!(x2 > x1) || !(y2 > y1)) return true;  // empty or not a number: nothing to cover
  const PixelImage &p = image.pixels;
  return p.x1 <= x1 && p.y1 <= y1 && p.x2 >= x2 && p.y2 >= y2;
}

void releaseImage(ClipImage &image) {
  if (image.handle != nullptr) gHostSuites.imageEffectSuite->clipReleaseImage(image.handle);
  image.handle = nullptr;
}
