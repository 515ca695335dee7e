// Weighted per-channel mean and standard deviation of an image, on a sparse
// sample grid of about 10,000 points, optionally restricted by a mask.
#include "match/ClipStats.h"

#include "match/ColorMath.h"
#include "match/Sampling.h"

#include <cmath>
#include <cstdint>

namespace {

void writeDefaults(ClipStats &stats) {
  for (int k = 0; k < 3; ++k) {
    stats.mean[k] = 0.5f;
    stats.deviation[k] = 0.25f;
  }
}

// About this many samples are taken of an image.
constexpr double kStatsSamples = 10000.0;

// Weight of the sample at pixel (x, y) of the measured image; below 0.5 the
// sample does not count.
float maskWeight(const MaskView *mask, int64_t x, int64_t y) {
  if (mask == nullptr || mask->pixels == nullptr) {
    return 1.0f;
  }
  const int64_t mx = x - mask->originX;
  const int64_t my = y - mask->originY;
  if (mx < 0 || mx >= mask->width || my < 0 || my >= mask->height) {
    return 0.0f;
  }
  const float *pixel = pixelAt(*mask, mx, my);
  const float value = mask->componentCount == 4 ? pixel[3] : pixel[0];
  return clampColor(value, 0.0f, 1.0f);
}

// Samples gathered from one row, converted together so that the conversion
// runs as vector code; they are summed afterwards in the order of the walk.
constexpr int kBatch = 128;

struct SampleBatch {
  float c[3][kBatch];
  float weight[kBatch];
  int count = 0;
};

void convertBatch(SampleBatch &batch, ColorSpace colorSpace) {
  const int count = batch.count;
  if (colorSpace == kColorSpaceLab) {
    for (int i = 0; i < count; ++i) {
      rgbToLabKernel(batch.c[0][i], batch.c[1][i], batch.c[2][i], batch.c[0][i], batch.c[1][i], batch.c[2][i]);
    }
  } else if (colorSpace == kColorSpaceYuv) {
    for (int i = 0; i < count; ++i) {
      rgbToYuv(batch.c[0][i], batch.c[1][i], batch.c[2][i], batch.c[0][i], batch.c[1][i], batch.c[2][i]);
    }
  }
  // A sample whose converted values are not all finite (a NaN or infinite
  // pixel, or one so large that the conversion overflows) does not count, in
  // either pass; the others keep their order.
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    if (!std::isfinite(batch.c[0][i]) || !std::isfinite(batch.c[1][i]) || !std::isfinite(batch.c[2][i])) continue;
    batch.c[0][kept] = batch.c[0][i];
    batch.c[1][kept] = batch.c[1][i];
    batch.c[2][kept] = batch.c[2][i];
    batch.weight[kept] = batch.weight[i];
    ++kept;
  }
  batch.count = kept;
}

// Walks the sample grid, handing each batch of counting samples, converted
// to the working space, to `consume`.
template <typename Consume>
void walkSamples(const ImageView &image, int step, ColorSpace colorSpace, const MaskView *mask, SampleBatch &batch,
                 Consume consume) {
  const int width = image.width, height = image.height;
  for (int64_t y = 0; y < height; y += step) {
    batch.count = 0;
    for (int64_t x = 0; x < width; x += step) {
      const float weight = maskWeight(mask, x, y);
      if (weight < 0.5f) {
        continue;
      }
      const float *pixel = rgbaPixelAt(image, x, y);
      const int i = batch.count++;
      batch.c[0][i] = pixel[0];
      batch.c[1][i] = pixel[1];
      batch.c[2][i] = pixel[2];
      batch.weight[i] = weight;
      if (batch.count == kBatch) {
        convertBatch(batch, colorSpace);
        if (batch.count > 0) consume(batch);
        batch.count = 0;
      }
    }
    if (batch.count > 0) {
      convertBatch(batch, colorSpace);
      consume(batch);
    }
  }
}

// The two passes of the statistics over samples that `walk` hands out in
// batches; `walk` is called once per pass.
template <typename Walk>
void twoPassStats(ClipStats &stats, Walk walk) {
  // First pass: weighted means.
  double total = 0.0;
  double sum[3] = {0.0, 0.0, 0.0};
  walk([&](const float *const c[3], const float *weights, int count, float frameWeight) {
    for (int i = 0; i < count; ++i) {
      const float weight = weights[i] * frameWeight;
      total += static_cast<double>(weight);
      for (int k = 0; k < 3; ++k) {
        sum[k] += static_cast<double>(c[k][i] * weight);
      }
    }
  });
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
  walk([&](const float *const c[3], const float *weights, int count, float frameWeight) {
    for (int i = 0; i < count; ++i) {
      const float weight = weights[i] * frameWeight;
      total2 += static_cast<double>(weight);
      for (int k = 0; k < 3; ++k) {
        const float d = c[k][i] - mean[k];
        squares[k] += static_cast<double>(d * d * weight);
      }
    }
  });
  for (int k = 0; k < 3; ++k) {
    if (total2 > 1e-6) {
      stats.deviation[k] = static_cast<float>(std::sqrt(squares[k] / total2)) + 1e-6f;
    } else {
      stats.deviation[k] = 0.25f;
    }
  }
}

}  // namespace

void computeClipStats(const ImageView &image, ColorSpace colorSpace, ClipStats &stats, const MaskView *mask) {
  writeDefaults(stats);
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) {
    return;
  }
  const int step = samplingStep(image.width, image.height, kStatsSamples);
  SampleBatch batch;
  twoPassStats(stats, [&](auto sum) {
    walkSamples(image, step, colorSpace, mask, batch, [&](const SampleBatch &b) {
      const float *const c[3] = {b.c[0], b.c[1], b.c[2]};
      sum(c, b.weight, b.count, 1.0f);
    });
  });
}

void gatherClipSamples(const ImageView &image, ColorSpace colorSpace, const MaskView *mask, ClipSamples &samples) {
  samples.values.clear();
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) {
    return;
  }
  const int step = samplingStep(image.width, image.height, kStatsSamples);
  samples.values.reserve(static_cast<size_t>((image.width + step - 1) / step) * ((image.height + step - 1) / step) * 4);
  SampleBatch batch;
  walkSamples(image, step, colorSpace, mask, batch, [&](const SampleBatch &b) {
    for (int i = 0; i < b.count; ++i) samples.values.insert(samples.values.end(), {b.c[0][i], b.c[1][i], b.c[2][i], b.weight[i]});
  });
}

void pooledClipStats(const ClipSamples *const *frames, const float *weights, int count, ClipStats &stats) {
  writeDefaults(stats);
  // Frames that share one set of samples (a still picture) are summed once
  // with their weights added.
  std::vector<const ClipSamples *> sets;
  std::vector<float> setWeights;
  for (int f = 0; f < count; ++f) {
    size_t at = 0;
    while (at < sets.size() && sets[at] != frames[f]) ++at;
    if (at == sets.size()) {
      sets.push_back(frames[f]);
      setWeights.push_back(weights[f]);
    } else {
      setWeights[at] += weights[f];
    }
  }
  twoPassStats(stats, [&](auto sum) {
    SampleBatch batch;
    for (size_t f = 0; f < sets.size(); ++f) {
      const std::vector<float> &v = sets[f]->values;
      // Batches as the walk made them, so the sums run in the same order.
      for (size_t i = 0; i + 4 <= v.size();) {
        batch.count = 0;
        for (; i + 4 <= v.size() && batch.count < kBatch; i += 4, ++batch.count) {
          batch.c[0][batch.count] = v[i];
          batch.c[1][batch.count] = v[i + 1];
          batch.c[2][batch.count] = v[i + 2];
          batch.weight[batch.count] = v[i + 3];
        }
        const float *const c[3] = {batch.c[0], batch.c[1], batch.c[2]};
        sum(c, batch.weight, batch.count, setWeights[f]);
      }
    }
  });
}
