// Float views of typed images, as the builders read them.
#ifndef TINTBRIDGE_FLOAT_IMAGE_H
#define TINTBRIDGE_FLOAT_IMAGE_H

#include <memory>

#include "lut/ImageView.h"

// A float view of an image and, when the image had to be converted, the
// converted pixels it points into.
struct FloatImage {
  ImageView view = {nullptr, 0, 0, 0, 0};
  std::unique_ptr<float[]> storage;
};

// Views `image` as float pixels of `channels` components: the image itself
// when it already is float with that many, else a converted copy (missing
// channels, the alpha of an RGB image, become 1). False when the copy's
// memory cannot be had. Never throws.
// With `unpremultiply` (four channels only) colour is divided by alpha, and
// the colour of a pixel whose alpha is not above 0 is NaN: it has none.
bool floatImage(const PixelImage &image, int channels, FloatImage &out, bool unpremultiply = false);

#endif
