// What the host does to an image between a clip and the plug-in: cut out the
// region asked for and convert it to the format the plug-in prefers.
#include <cstring>

#include "host/Image.h"

namespace tbhost {

namespace {

float luminance(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

// Pixel (x, y) of `image` as the channels of `to`.
void convertPixel(const Image &image, int x, int y, Components to, bool realAlpha, float out[4]) {
  const float c0 = image.get(x, y, 0);
  switch (image.components()) {
    case Components::RGBA:
      if (to == Components::Alpha) {
        out[0] = realAlpha ? image.get(x, y, 3) : luminance(c0, image.get(x, y, 1), image.get(x, y, 2));
        return;
      }
      for (int c = 0; c < 4; ++c) out[c] = image.get(x, y, c);
      return;
    case Components::RGB:
      if (to == Components::Alpha) {
        out[0] = luminance(c0, image.get(x, y, 1), image.get(x, y, 2));
        return;
      }
      for (int c = 0; c < 3; ++c) out[c] = image.get(x, y, c);
      out[3] = 1.0f;
      return;
    case Components::Alpha:
      for (int c = 0; c < 4; ++c) out[c] = c0;
      return;
  }
}

}  // namespace

bool hasRealAlpha(const Image &image) {
  if (image.components() != Components::RGBA) return false;
  const OfxRectI &b = image.bounds();
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      if (image.get(x, y, 3) != 1.0f) return true;
    }
  }
  return false;
}

std::shared_ptr<Image> convertedPart(const Image &image, OfxRectI region, PixelDepth depth, Components components,
                                     bool realAlpha) {
  // The same layout, its row padding kept a whole number of components so
  // that rows stay aligned in the new depth.
  ImageLayout layout = image.layout();
  const int unit = bytesPerComponent(depth);
  layout.rowPadding = (layout.rowPadding + unit - 1) / unit * unit;
  std::shared_ptr<Image> part = Image::create(depth, components, region, layout);
  if (!part->data()) return part;
  if (depth == image.depth() && components == image.components()) {
    const size_t rowBytes = static_cast<size_t>(part->width()) * static_cast<size_t>(part->bytesPerPixel());
    for (int y = region.y1; y < region.y2; ++y) {
      std::memcpy(part->pixelAddress(region.x1, y), image.pixelAddress(region.x1, y), rowBytes);
    }
    return part;
  }
  const int channels = componentCount(components);
  float values[4];
  for (int y = region.y1; y < region.y2; ++y) {
    for (int x = region.x1; x < region.x2; ++x) {
      convertPixel(image, x, y, components, realAlpha, values);
      for (int c = 0; c < channels; ++c) part->set(x, y, c, values[c]);
    }
  }
  return part;
}

}  // namespace tbhost
