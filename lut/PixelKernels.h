// The render's pixel kernels over typed images: every depth and component
// count in and out, with or without a LUT.
#ifndef TINTBRIDGE_PIXEL_KERNELS_H
#define TINTBRIDGE_PIXEL_KERNELS_H

#include "lut/ImageView.h"
#include "lut/MatchLut.h"
#include "lut/Mix.h"

// Maps the area [x1, x2) x [y1, y2), which must lie inside `dst`: each pixel
// the Source colour clamped to [0, 1], looked up in `lut` and mixed when
// `lut` is not null; alpha copied (1 from an RGB Source); transparent black
// where `src` has no pixel. `src` and `dst` have a usable depth; `src` has 3
// or 4 components. A premultiplied Source is matched unpremultiplied and
// premultiplied again.
void mapImage(const PixelImage &src, const PixelImage &dst, int x1, int y1, int x2, int y2, const MatchLut *lut,
              const MixStrengths &mix, bool premultiplied = false);

// The same area with the Source as it is: no clamp beyond what the output's
// depth holds.
void copyImage(const PixelImage &src, const PixelImage &dst, int x1, int y1, int x2, int y2);

#endif
