// MatchLut::fitCdl: a slope and offset per channel fitted along the grid's
// grey axis, and one saturation from the chroma ratio at six corners.
#include <cmath>

#include "export/CdlValues.h"
#include "lut/MatchLut.h"

namespace {

inline float clampRange(float v, float lo, float hi) {
  v = (v < hi) ? v : hi;
  v = (v > lo) ? v : lo;
  return v;
}

inline float lumaOf(float r, float g, float b) { return (0.7152f * g + 0.2126f * r) + 0.0722f * b; }

inline float chromaOf(float r, float g, float b) {
  const float y = lumaOf(r, g, b);
  const float dr = r - y;
  const float dg = g - y;
  const float db = b - y;
  return std::sqrt((dr * dr + dg * dg) + db * db);
}

// Least-squares line y = slope * x + offset through channel c of the grey axis.
void fitGreyAxis(const float *grid, int n, int c, float &slope, float &offset) {
  const float last = static_cast<float>(n - 1);
  double sx = 0.0, sy = 0.0, sxy = 0.0, sxx = 0.0;
  for (int i = 0; i < n; ++i) {
    const float x = static_cast<float>(i) / last;
    const float y = grid[MatchLut::entryOffset(n, i, i, i) + c];
    sx += static_cast<double>(x);
    sy += static_cast<double>(y);
    sxy += static_cast<double>(x * y);
    sxx += static_cast<double>(x * x);
  }
  const double count = static_cast<double>(n);
  const double d = count * sxx - sx * sx;
  if (std::fabs(d) > 1e-10) {
    slope = static_cast<float>((count * sxy - sy * sx) / d);
    offset = static_cast<float>((sy - static_cast<double>(slope) * sx) / count);
  } else {
    slope = 1.0f;
    offset = 0.0f;
  }
  slope = clampRange(slope, 0.0f, 4.0f);
  offset = clampRange(offset, -1.0f, 1.0f);
}

// Mean ratio of output to input chroma at the six saturated corners.
float fitSaturation(const float *grid, int n) {
  const int a = n - 1;
  const int corners[6][3] = {{a, 0, 0}, {0, a, 0}, {0, 0, a}, {a, a, 0}, {a, 0, a}, {0, a, a}};
  const float scale = static_cast<float>(a);
  float sum = 0.0f;
  int count = 0;
  for (const auto &corner : corners) {
    const float r = static_cast<float>(corner[0]) / scale;
    const float g = static_cast<float>(corner[1]) / scale;
    const float b = static_cast<float>(corner[2]) / scale;
    const float inChroma = chromaOf(r, g, b);
    if (inChroma > 0.01f) {
      const float *out = grid + MatchLut::entryOffset(n, corner[0], corner[1], corner[2]);
      sum += chromaOf(out[0], out[1], out[2]) / inChroma;
      ++count;
    }
  }
  const float saturation = count > 0 ? sum / static_cast<float>(count) : 1.0f;
  return clampRange(saturation, 0.0f, 4.0f);
}

}  // namespace

void MatchLut::fitCdl(CdlValues &values) const {
  if (!valid.load() || data == nullptr || size < 2) return;
  for (int c = 0; c < 3; ++c) fitGreyAxis(data, size, c, values.slope[c], values.offset[c]);
  values.saturation = fitSaturation(data, size);
}
