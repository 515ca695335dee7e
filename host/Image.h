// Pixel buffers that the headless host hands to a plug-in through clips.
//
// An image has a depth (byte, short, float), components (RGBA, RGB, Alpha),
// bounds in pixel coordinates that need not start at 0, and row bytes that
// may carry padding or be negative (rows going down in memory). `data` is
// always the address of pixel (bounds.x1, bounds.y1), as OFX requires.
//
// The buffer is surrounded by guard bytes, and row padding is filled with the
// same pattern, so a test can check that a plug-in wrote nothing outside the
// image (`outsideIntact`).
#ifndef TINTBRIDGE_HOST_IMAGE_H
#define TINTBRIDGE_HOST_IMAGE_H

#include <memory>
#include <string>
#include <vector>

#include "ofx/OfxApi.h"

namespace tbhost {

enum class PixelDepth { Byte, Short, Float };
enum class Components { RGBA, RGB, Alpha };

const char *depthName(PixelDepth depth);            // "OfxBitDepthFloat", ...
const char *componentsName(Components components);  // "OfxImageComponentRGBA", ...
// The reverse; false for a name the host has no images of.
bool depthFromName(const std::string &name, PixelDepth &depth);
bool componentsFromName(const std::string &name, Components &components);
int bytesPerComponent(PixelDepth depth);
int componentCount(Components components);

struct ImageLayout {
  int rowPadding = 0;             // extra bytes at the end of every row
  bool negativeRowBytes = false;  // top-down storage: rows go down in memory
};

class Image {
 public:
  // A zero-filled image. Empty or inverted bounds give an image with no pixels.
  static std::shared_ptr<Image> create(PixelDepth depth, Components components, OfxRectI bounds,
                                       ImageLayout layout = ImageLayout());
  // Float RGBA at the origin, packed rows.
  static std::shared_ptr<Image> rgbaFloat(int width, int height);

  PixelDepth depth() const { return depth_; }
  Components components() const { return components_; }
  const OfxRectI &bounds() const { return bounds_; }
  int width() const { return bounds_.x2 - bounds_.x1; }
  int height() const { return bounds_.y2 - bounds_.y1; }
  int rowBytes() const { return rowBytes_; }
  ImageLayout layout() const;
  int bytesPerPixel() const { return bytesPerComponent(depth_) * componentCount(components_); }
  void *data() const { return data_; }  // pixel (x1, y1); null without pixels
  bool contains(int x, int y) const;

  // Address of pixel (x, y), or null outside the bounds.
  unsigned char *pixelAddress(int x, int y) const;
  // Channel c of pixel (x, y) as a float: bytes / 255, shorts / 65535.
  // Outside the bounds or past the component count: 0.
  float get(int x, int y, int c) const;
  // Stores a float, rounded and clamped for byte and short depths.
  void set(int x, int y, int c, float value);
  // Every pixel to the same channel values (only the first components used).
  void fill(float r, float g, float b, float a);

  // True when no byte outside the pixels (guards and row padding) changed.
  bool outsideIntact() const;

 private:
  Image() = default;

  PixelDepth depth_ = PixelDepth::Float;
  Components components_ = Components::RGBA;
  OfxRectI bounds_{0, 0, 0, 0};
  int rowBytes_ = 0;
  int rowPadding_ = 0;
  std::vector<unsigned char> storage_;
  size_t firstRowOffset_ = 0;  // offset in storage_ of the lowest-addressed row
  unsigned char *data_ = nullptr;
};

// True for an RGBA image with some alpha other than 1: a real alpha, not an
// RGB picture delivered as RGBA.
bool hasRealAlpha(const Image &image);

// The pixels of `image` inside `region` (within its bounds), in the given
// depth and components, with the same row layout. To RGBA from RGB with
// alpha 1, from Alpha by repeating it; to RGB by dropping alpha or repeating
// Alpha; to Alpha from RGBA by taking alpha when `realAlpha`, else (and from
// RGB) by Rec. 709 luminance.
std::shared_ptr<Image> convertedPart(const Image &image, OfxRectI region, PixelDepth depth, Components components,
                                     bool realAlpha);

}  // namespace tbhost

#endif
