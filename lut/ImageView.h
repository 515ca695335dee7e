// Plain views of pixels that the layers above hand to the builders and the
// pixel kernels. A view owns nothing.
#ifndef TINTBRIDGE_IMAGE_VIEW_H
#define TINTBRIDGE_IMAGE_VIEW_H

#include <cstdint>

// Byte offset of pixel (x, y) from the pixel at (0, 0) of a view: the one
// address rule for every image, in 64 bits, for row bytes of either sign.
inline int64_t pixelByteOffset(int64_t x, int64_t y, int rowBytes, int pixelBytes) {
  return y * rowBytes + x * pixelBytes;
}

// Float pixels, `componentCount` floats a pixel, (0, 0) at `pixels`.
struct ImageView {
  const float *pixels;  // may be null
  int width;
  int height;
  int rowBytes;        // may be negative
  int componentCount;  // 1, 3 or 4
};

// A mask over a measured image, read in pixel space: the mask's pixel (0, 0)
// lies at (originX, originY) of the image; outside the mask there is no
// weight.
struct MaskView : ImageView {
  int originX = 0;
  int originY = 0;
};

inline const float *pixelAt(const ImageView &view, int64_t x, int64_t y) {
  return reinterpret_cast<const float *>(reinterpret_cast<const char *>(view.pixels) +
                                         pixelByteOffset(x, y, view.rowBytes, view.componentCount * 4));
}

// The same for a view the caller reads as RGBA whatever its component count.
inline const float *rgbaPixelAt(const ImageView &view, int64_t x, int64_t y) {
  return reinterpret_cast<const float *>(reinterpret_cast<const char *>(view.pixels) +
                                         pixelByteOffset(x, y, view.rowBytes, 4 * 4));
}

// Bytes per component of the depths the kernels read and write.
enum ComponentDepth : int { kDepthUnusable = 0, kDepthByte = 1, kDepthShort = 2, kDepthFloat = 4 };

// Typed pixels with bounds that need not start at 0; `data` is the pixel at
// (x1, y1).
struct PixelImage {
  char *data = nullptr;
  int rowBytes = 0;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int width = 0, height = 0;
  int depth = kDepthUnusable;
  int components = 0;
};

inline char *pixelAddress(const PixelImage &image, int x, int y) {
  return image.data + pixelByteOffset(static_cast<int64_t>(x) - image.x1, static_cast<int64_t>(y) - image.y1,
                                      image.rowBytes, image.components * image.depth);
}

#endif
