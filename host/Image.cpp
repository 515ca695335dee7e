#include "host/Image.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tbhost {

namespace {
constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuardByte = 0xA5;
}  // namespace

const char *depthName(PixelDepth depth) {
  switch (depth) {
    case PixelDepth::Byte: return kOfxBitDepthByte;
    case PixelDepth::Short: return kOfxBitDepthShort;
    case PixelDepth::Float: return kOfxBitDepthFloat;
  }
  return kOfxBitDepthNone;
}

const char *componentsName(Components components) {
  switch (components) {
    case Components::RGBA: return kOfxImageComponentRGBA;
    case Components::RGB: return kOfxImageComponentRGB;
    case Components::Alpha: return kOfxImageComponentAlpha;
  }
  return kOfxImageComponentNone;
}

bool depthFromName(const std::string &name, PixelDepth &depth) {
  for (PixelDepth d : {PixelDepth::Byte, PixelDepth::Short, PixelDepth::Float}) {
    if (name == depthName(d)) {
      depth = d;
      return true;
    }
  }
  return false;
}

bool componentsFromName(const std::string &name, Components &components) {
  for (Components c : {Components::RGBA, Components::RGB, Components::Alpha}) {
    if (name == componentsName(c)) {
      components = c;
      return true;
    }
  }
  return false;
}

int bytesPerComponent(PixelDepth depth) {
  switch (depth) {
    case PixelDepth::Byte: return 1;
    case PixelDepth::Short: return 2;
    case PixelDepth::Float: return 4;
  }
  return 4;
}

int componentCount(Components components) {
  switch (components) {
    case Components::RGBA: return 4;
    case Components::RGB: return 3;
    case Components::Alpha: return 1;
  }
  return 4;
}

std::shared_ptr<Image> Image::create(PixelDepth depth, Components components, OfxRectI bounds, ImageLayout layout) {
  std::shared_ptr<Image> image(new Image());
  image->depth_ = depth;
  image->components_ = components;
  image->bounds_ = bounds;
  const int64_t width = static_cast<int64_t>(bounds.x2) - bounds.x1;
  const int64_t height = static_cast<int64_t>(bounds.y2) - bounds.y1;
  const int padding = layout.rowPadding > 0 ? layout.rowPadding : 0;
  image->rowPadding_ = padding;
  const int64_t packed = width > 0 ? width * image->bytesPerPixel() : 0;
  const int64_t stride = packed + padding;
  const int64_t rows = (width > 0 && height > 0) ? height : 0;
  image->storage_.assign(static_cast<size_t>(stride * rows) + 2 * kGuardBytes, kGuardByte);
  image->firstRowOffset_ = kGuardBytes;
  image->rowBytes_ = static_cast<int>(layout.negativeRowBytes ? -stride : stride);
  if (rows > 0) {
    unsigned char *base = image->storage_.data() + kGuardBytes;
    for (int64_t r = 0; r < rows; ++r) std::memset(base + r * stride, 0, static_cast<size_t>(packed));
    // Bottom row first in memory, or, top-down, the bottom row last.
    image->data_ = layout.negativeRowBytes ? base + (rows - 1) * stride : base;
  }
  return image;
}

std::shared_ptr<Image> Image::rgbaFloat(int width, int height) {
  return create(PixelDepth::Float, Components::RGBA, OfxRectI{0, 0, width, height});
}

ImageLayout Image::layout() const {
  ImageLayout layout;
  layout.rowPadding = rowPadding_;
  layout.negativeRowBytes = rowBytes_ < 0;
  return layout;
}

bool Image::contains(int x, int y) const {
  return data_ && x >= bounds_.x1 && x < bounds_.x2 && y >= bounds_.y1 && y < bounds_.y2;
}

unsigned char *Image::pixelAddress(int x, int y) const {
  if (!contains(x, y)) return nullptr;
  const int64_t offset = (static_cast<int64_t>(y) - bounds_.y1) * rowBytes_ +
                         (static_cast<int64_t>(x) - bounds_.x1) * bytesPerPixel();
  return data_ + offset;
}

float Image::get(int x, int y, int c) const {
  const unsigned char *p = pixelAddress(x, y);
  if (!p || c < 0 || c >= componentCount(components_)) return 0.0f;
  switch (depth_) {
    case PixelDepth::Byte: return p[c] / 255.0f;
    case PixelDepth::Short: {
      uint16_t v;
      std::memcpy(&v, p + 2 * c, 2);
      return v / 65535.0f;
    }
    case PixelDepth::Float: {
      float v;
      std::memcpy(&v, p + 4 * c, 4);
      return v;
    }
  }
  return 0.0f;
}

void Image::set(int x, int y, int c, float value) {
  unsigned char *p = pixelAddress(x, y);
  if (!p || c < 0 || c >= componentCount(components_)) return;
  auto quantise = [](float v, float scale) {
    float s = std::fmax(0.0f, std::fmin(v, 1.0f)) * scale + 0.5f;
    return std::isnan(v) ? 0.0f : std::floor(s);
  };
  switch (depth_) {
    case PixelDepth::Byte: p[c] = static_cast<unsigned char>(quantise(value, 255.0f)); break;
    case PixelDepth::Short: {
      uint16_t v = static_cast<uint16_t>(quantise(value, 65535.0f));
      std::memcpy(p + 2 * c, &v, 2);
      break;
    }
    case PixelDepth::Float: std::memcpy(p + 4 * c, &value, 4); break;
  }
}

void Image::fill(float r, float g, float b, float a) {
  const float values[4] = {r, g, b, a};
  const int n = componentCount(components_);
  for (int y = bounds_.y1; y < bounds_.y2; ++y) {
    for (int x = bounds_.x1; x < bounds_.x2; ++x) {
      for (int c = 0; c < n; ++c) set(x, y, c, n == 1 ? a : values[c]);
    }
  }
}

bool Image::outsideIntact() const {
  const size_t total = storage_.size();
  for (size_t i = 0; i < kGuardBytes && i < total; ++i) {
    if (storage_[i] != kGuardByte || storage_[total - 1 - i] != kGuardByte) return false;
  }
  if (!data_ || rowPadding_ == 0) return true;
  const size_t stride = static_cast<size_t>(rowBytes_ < 0 ? -static_cast<int64_t>(rowBytes_) : rowBytes_);
  const size_t packed = stride - static_cast<size_t>(rowPadding_);
  const size_t rows = static_cast<size_t>(height());
  for (size_t r = 0; r < rows; ++r) {
    const unsigned char *pad = storage_.data() + firstRowOffset_ + r * stride + packed;
    for (int i = 0; i < rowPadding_; ++i) {
      if (pad[i] != kGuardByte) return false;
    }
  }
  return true;
}

}  // namespace tbhost
