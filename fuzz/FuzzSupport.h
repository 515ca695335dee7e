// Helpers of the fuzz targets that drive the bundle through the headless
// host: the bundle under test and images built from fuzz bytes. The rest is
// in FuzzBasics.h.
#ifndef TINTBRIDGE_FUZZ_SUPPORT_H
#define TINTBRIDGE_FUZZ_SUPPORT_H

#include <dlfcn.h>

#include <memory>

#include "fuzz/FuzzBasics.h"
#include "host/Host.h"
#include "host/Image.h"

namespace fuzzsupport {

// The module's path. The first call also loads it for good: libFuzzer keeps
// the module's coverage counters, so the module must stay mapped while hosts
// come and go.
inline const char *bundleBinary() {
  static void *const kept = dlopen(TINTBRIDGE_BUNDLE_BINARY, RTLD_NOW | RTLD_NODELETE);
  if (kept == nullptr) fail("cannot load %s: %s", TINTBRIDGE_BUNDLE_BINARY, dlerror());
  return TINTBRIDGE_BUNDLE_BINARY;
}

// Fills every pixel of an image from the fuzz bytes: float channels from the
// list of awkward values, byte and short channels from raw bytes.
inline void fillFromFuzz(tbhost::Image &image, FuzzedDataProvider &fdp) {
  const OfxRectI b = image.bounds();
  const int channels = tbhost::componentCount(image.components());
  const bool uniform = fdp.ConsumeBool();
  float first[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  for (int y = b.y1; y < b.y2 && image.data() != nullptr; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      unsigned char *p = image.pixelAddress(x, y);
      for (int c = 0; c < channels; ++c) {
        switch (image.depth()) {
          case tbhost::PixelDepth::Float: {
            float v;
            if (uniform && !(x == b.x1 && y == b.y1)) {
              v = first[c];
            } else {
              v = fdp.ConsumeBool() ? fdp.ConsumeProbability<float>() : specialFloat(fdp);
              first[c] = v;
            }
            std::memcpy(p + 4 * c, &v, 4);
            break;
          }
          case tbhost::PixelDepth::Short: {
            const uint16_t v = fdp.ConsumeIntegral<uint16_t>();
            std::memcpy(p + 2 * c, &v, 2);
            break;
          }
          case tbhost::PixelDepth::Byte:
            p[c] = fdp.ConsumeIntegral<uint8_t>();
            break;
        }
      }
    }
  }
}

inline std::shared_ptr<tbhost::Image> imageFromFuzz(FuzzedDataProvider &fdp, int maxSide) {
  static const tbhost::PixelDepth kDepths[] = {tbhost::PixelDepth::Float, tbhost::PixelDepth::Float,
                                               tbhost::PixelDepth::Short, tbhost::PixelDepth::Byte};
  static const tbhost::Components kComponents[] = {tbhost::Components::RGBA, tbhost::Components::RGBA,
                                                   tbhost::Components::RGB, tbhost::Components::Alpha};
  const tbhost::PixelDepth depth = kDepths[fdp.ConsumeIntegralInRange<int>(0, 3)];
  const tbhost::Components components = kComponents[fdp.ConsumeIntegralInRange<int>(0, 3)];
  OfxRectI bounds;
  bounds.x1 = fdp.ConsumeIntegralInRange<int>(-6, 6);
  bounds.y1 = fdp.ConsumeIntegralInRange<int>(-6, 6);
  bounds.x2 = bounds.x1 + fdp.ConsumeIntegralInRange<int>(-1, maxSide);
  bounds.y2 = bounds.y1 + fdp.ConsumeIntegralInRange<int>(-1, maxSide);
  tbhost::ImageLayout layout;
  // Any padding that keeps rows aligned to the component size, as a host
  // must: odd row bytes for byte images.
  layout.rowPadding = fdp.ConsumeIntegralInRange<int>(0, 5) * tbhost::bytesPerComponent(depth);
  layout.negativeRowBytes = fdp.ConsumeBool();
  std::shared_ptr<tbhost::Image> image = tbhost::Image::create(depth, components, bounds, layout);
  fillFromFuzz(*image, fdp);
  return image;
}

// The bytes of every pixel, row by row, for comparisons.
inline std::vector<unsigned char> pixelBytes(const tbhost::Image &image) {
  std::vector<unsigned char> bytes;
  if (image.data() == nullptr) return bytes;
  const OfxRectI b = image.bounds();
  const size_t row = static_cast<size_t>(image.width()) * image.bytesPerPixel();
  for (int y = b.y1; y < b.y2; ++y) {
    const unsigned char *p = image.pixelAddress(b.x1, y);
    bytes.insert(bytes.end(), p, p + row);
  }
  return bytes;
}

}  // namespace fuzzsupport

#endif
