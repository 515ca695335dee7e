#include "lut/FloatImage.h"

#include <cstdint>
#include <limits>
#include <new>

#include "lut/PixelFormat.h"

namespace {

template <class T>
void convertRows(const PixelImage &image, int channels, float *outPixels) {
  for (int y = 0; y < image.height; ++y) {
    const T *in = reinterpret_cast<const T *>(image.data + pixelByteOffset(0, y, image.rowBytes, 0));
    float *out = outPixels + static_cast<int64_t>(y) * image.width * channels;
    for (int x = 0; x < image.width; ++x, in += image.components, out += channels) {
      for (int c = 0; c < channels; ++c) out[c] = c < image.components ? toFloat<T>(in[c]) : 1.0f;
    }
  }
}

}  // namespace

bool floatImage(const PixelImage &image, int channels, FloatImage &out, bool unpremultiply) {
  out.view = ImageView{nullptr, image.width, image.height, 0, channels};
  unpremultiply = unpremultiply && channels == 4 && image.components == 4;
  if (image.depth == kDepthFloat && image.components == channels && !unpremultiply) {
    out.view.pixels = reinterpret_cast<const float *>(image.data);
    out.view.rowBytes = image.rowBytes;
    return true;
  }
  const int64_t count = static_cast<int64_t>(image.width) * image.height * channels;
  const int64_t rowBytes = static_cast<int64_t>(image.width) * channels * 4;
  if (rowBytes > INT32_MAX) return false;
  out.storage.reset(new (std::nothrow) float[count > 0 ? static_cast<size_t>(count) : 1]);
  if (!out.storage) return false;
  if (image.depth == kDepthByte)
    convertRows<uint8_t>(image, channels, out.storage.get());
  else if (image.depth == kDepthShort)
    convertRows<uint16_t>(image, channels, out.storage.get());
  else
    convertRows<float>(image, channels, out.storage.get());
  if (unpremultiply) {
    float *p = out.storage.get();
    for (int64_t i = 0; i < count; i += 4, p += 4) {
      const float a = p[3];
      for (int c = 0; c < 3; ++c) p[c] = a > 0.0f ? p[c] / a : std::numeric_limits<float>::quiet_NaN();
    }
  }
  out.view.pixels = out.storage.get();
  out.view.rowBytes = static_cast<int>(rowBytes);
  return true;
}
