// Weighted per-channel mean and standard deviation of an image, on a sparse
// sample grid of about 10,000 points, optionally restricted by a mask.
#include "match/ClipStats.h"

#include <cmath>
#include <cstdint>

namespace {

void writeDefaults(ClipStats &stats) {
  for (int k = 0; k < 3; ++k) {
    stats.mean[k] = 0.5f;
    stats.deviation[k] = 0.25f;
  }
}

int samplingStep(int width, int height) {
  int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels <= 0) {
    return 1;
  }
  double root = std::sqrt(static_cast<double>(pixels) / 10000.0);
  int step = static_cast<int>(root);
  return step > 1 ? step : 1;
}

// Weight of the sample at (x, y) of a width x height image; below 0.5 the
// sample does not count.
float maskWeight(const MaskView *mask, int64_t x, int64_t y, int width, int height) {
  if (mask == nullptr || mask->pixels == nullptr) {
    return 1.0f;
  }
  int64_t mx = (mask->width == width) ? x : mask->width * x / width;
  int64_t my = (mask->height == height) ? y : mask->height * y / height;
  if (mx < 0 || mx >= mask->width || my < 0 || my >= mask->height) {
    return 0.0f;
  }
  const float *row = reinterpret_cast<const float *>(reinterpret_cast<const char *>(mask->pixels) +
                                                     my * static_cast<int64_t>(mask->rowBytes));
  float value;
  if (mask->componentCount == 4) {
    value = row[mx * 4 + 3];
  } else if (mask->componentCount == 3) {
    value = row[mx * 3];
  } else {
    value = row[mx];
  }
  return clampColor(value, 0.0f, 1.0f);
}

void sampleColor(const float *pixel, ColorSpace colorSpace, float c[3]) {
  if (colorSpace == kColorSpaceLab) {
    rgbToLab(pixel[0], pixel[1], pixel[2], c[0], c[1], c[2]);
  } else if (colorSpace == kColorSpaceYuv) {
    rgbToYuv(pixel[0], pixel[1], pixel[2], c[0], c[1], c[2]);
  } else {
    c[0] = pixel[0];
    c[1] = pixel[1];
    c[2] = pixel[2];
  }
}

const float *imageRow(const float *pixels, int64_t y, int rowBytes) {
  return reinterpret_cast<const float *>(reinterpret_cast<const char *>(pixels) +
                                         y * rowBytes);
}

}  // namespace

void computeClipStats(const float *pixels, int width, int height, int rowBytes, ColorSpace colorSpace,
                      ClipStats &stats, const MaskView *mask) {
  writeDefaults(stats);
  if (pixels == nullptr || width <= 0 || height <= 0) {
    return;
  }
  const int step = samplingStep(width, height);

  // First pass: weighted means.
  double total = 0.0;
  double sum[3] = {0.0, 0.0, 0.0};
  for (int64_t y = 0; y < height; y += step) {
    const float *row = imageRow(pixels, y, rowBytes);
    for (int64_t x = 0; x < width; x += step) {
      float weight = maskWeight(mask, x, y, width, height);
      if (weight < 0.5f) {
        continue;
      }
      float c[3];
      sampleColor(row + x * 4, colorSpace, c);
      total += static_cast<double>(weight);
      for (int k = 0; k < 3; ++k) {
        sum[k] += static_cast<double>(c[k] * weight);
      }
    }
  }
  if (total < 1e-6) {
    return;
  }
  float mean[3];
  for (int k = 0; k < 3; ++k) {
    mean[k] = static_cast<float>(sum[k] / total);
    stats.mean[k] = mean[k];
  }

  // Second pass: the same samples again, squared distances from the float means.
  double total2 = 0.0;
  double squares[3] = {0.0, 0.0, 0.0};
  for (int64_t y = 0; y < height; y += step) {
    const float *row = imageRow(pixels, y, rowBytes);
    for (int64_t x = 0; x < width; x += step) {
      float weight = maskWeight(mask, x, y, width, height);
      if (weight < 0.5f) {
        continue;
      }
      float c[3];
      sampleColor(row + x * 4, colorSpace, c);
      total2 += static_cast<double>(weight);
      for (int k = 0; k < 3; ++k) {
        float d = c[k] - mean[k];
        squares[k] += static_cast<double>(d * d * weight);
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    if (total2 > 1e-6) {
      stats.deviation[k] = static_cast<float>(std::sqrt(squares[k] / total2)) + 1e-6f;
    } else {
      stats.deviation[k] = 0.25f;
    }
  }
}
