// "Same Frame": the Source and the Reference show the same picture, graded
// differently. Every sampled pixel pair files the displacement from the Source
// colour to the Reference colour under the grid cell nearest the Source colour.
// Each cell then takes the sample-weighted mean displacement of its
// neighbourhood, and a plain box mean of that field fades the correction out
// over r cells beyond the data. Where nothing was sampled the table is the
// identity, exactly.
#include <cmath>
#include <cstdint>

#include "match/BoxSmooth.h"
#include "match/LutBuilders.h"
#include "match/Scratch.h"
#include "match/Sampling.h"

namespace {

// Four doubles a cell: displacement sums of R, G and B, then the count.
constexpr int kCellValues = 4;

// About this many pixel pairs are sampled, counted over the Source.
constexpr double kSameFrameSamples = 50000.0;

int cellIndex(float value, int n) {
  int index = static_cast<int>(value * static_cast<float>(n - 1) + 0.5f);
  if (index > n - 1) {
    index = n - 1;
  }
  return index < 0 ? 0 : index;
}

// Walks the sampled pixel pairs, handing each pair's clamped Source colour
// and the colour filed for it to `use`.
template <typename Use>
void walkPairs(const ImageView &source, const ImageView &reference, PreserveMode preserveMode, bool skipTransparent,
               Use use) {
  if (source.pixels == nullptr || reference.pixels == nullptr) {
    return;
  }
  const int step = samplingStep(source.width, source.height, kSameFrameSamples);
  const int width = source.width < reference.width ? source.width : reference.width;
  const int height = source.height < reference.height ? source.height : reference.height;
  if (width <= 0 || height <= 0) {
    return;
  }
  const bool recombine = preserveMode == kPreserveBrightness || preserveMode == kPreserveColors;
  for (int64_t y = 0; y < height; y += step) {
    for (int64_t x = 0; x < width; x += step) {
      const float *sp = rgbaPixelAt(source, x, y);
      const float *rp = rgbaPixelAt(reference, x, y);
      if (skipTransparent && !(sp[3] > 0.0f && rp[3] > 0.0f)) {
        continue;
      }
      float s[3], q[3], filed[3];
      for (int ch = 0; ch < 3; ++ch) {
        s[ch] = clampColor(sp[ch], 0.0f, 1.0f);
        q[ch] = clampColor(rp[ch], 0.0f, 1.0f);
      }
      if (recombine) {
        recombinePreserve(preserveMode, s, q, filed);
      } else {
        filed[0] = q[0];
        filed[1] = q[1];
        filed[2] = q[2];
      }
      use(s, filed);
    }
  }
}

// Files one pair, with weight w, under the cell nearest its Source colour.
inline void filePair(double *cells, int n, const float s[3], const float filed[3], double w) {
  const int64_t cell = (static_cast<int64_t>(cellIndex(s[0], n)) * n + cellIndex(s[1], n)) * n + cellIndex(s[2], n);
  double *slot = cells + cell * kCellValues;
  for (int ch = 0; ch < 3; ++ch) {
    slot[ch] += w * (static_cast<double>(filed[ch]) - static_cast<double>(s[ch]));
  }
  slot[3] += w;
}

// Turns the filed sums into each cell's displacement, in channels 0 to 2.
void resolveDisplacements(double *cells, int64_t cellCount, int n, int r, double *boxScratch) {
  if (r > 0) {
    // Sample-weighted mean over each window; zero where the window is empty.
    boxSumCut(cells, n, kCellValues, r, boxScratch);
  }
  for (int64_t c = 0; c < cellCount; ++c) {
    double *slot = cells + c * kCellValues;
    const double count = slot[3];
    for (int ch = 0; ch < 3; ++ch) {
      slot[ch] = count > 0.0 ? slot[ch] / count : 0.0;
    }
    slot[3] = 1.0;
  }
  if (r > 0) {
    // Plain mean of that field over the same cut windows; channel 3 now
    // counts the window's cells.
    boxSumCut(cells, n, kCellValues, r, boxScratch);
    for (int64_t c = 0; c < cellCount; ++c) {
      double *slot = cells + c * kCellValues;
      for (int ch = 0; ch < 3; ++ch) {
        slot[ch] /= slot[3];
      }
    }
  }
}

void writeEntries(MatchLut &lut, const double *cells) {
  const int n = lut.size;
  const float last = static_cast<float>(n - 1);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) {
        const int64_t cell = (static_cast<int64_t>(i) * n + j) * n + k;
        const double *slot = cells + cell * kCellValues;
        const float grid[3] = {static_cast<float>(i) / last, static_cast<float>(j) / last,
                               static_cast<float>(k) / last};
        float *entry = lut.data + cell * 3;
        for (int ch = 0; ch < 3; ++ch) {
          entry[ch] = clampColor(static_cast<float>(static_cast<double>(grid[ch]) + slot[ch]), 0.0f, 1.0f);
        }
      }
    }
  }
}

void writeIdentity(MatchLut &lut) {
  const int n = lut.size;
  const float last = static_cast<float>(n - 1);
  float *entry = lut.data;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) {
        entry[0] = static_cast<float>(i) / last;
        entry[1] = static_cast<float>(j) / last;
        entry[2] = static_cast<float>(k) / last;
        entry += 3;
      }
    }
  }
}

// Fills the grid from the displacements that `file` puts in the cells.
template <typename File>
bool buildFromFiling(MatchLut &lut, float smoothing, File file) {
  if (lut.data == nullptr || lut.size < kMinLutSize || lut.size > kMaxLutSize) {
    return true;  // no grid to fill
  }
  const int n = lut.size;
  const int64_t cellCount = static_cast<int64_t>(n) * n * n;
  const size_t cellDoubles = static_cast<size_t>(cellCount) * kCellValues;
  double *cells = allocateScratch(cellDoubles + boxSumScratchCount(n));
  if (cells == nullptr) {
    // Without the accumulators there is no match to build. The table is left
    // as the identity, but not marked valid: it does not match the inputs.
    lut.valid.store(false);
    writeIdentity(lut);
    return false;
  }
  for (size_t v = 0; v < cellDoubles; ++v) {
    cells[v] = 0.0;
  }
  file(cells, n);
  // Any positive smoothing smooths, with a radius of at least one cell.
  int r = smoothingRadius(smoothing, n);
  if (smoothing > 0.0f && r < 1) {
    r = 1;
  }
  resolveDisplacements(cells, cellCount, n, r, cells + cellDoubles);
  writeEntries(lut, cells);
  freeScratch(cells);
  lut.valid.store(true);
  return true;
}

}  // namespace

bool buildSameFrameLut(const ImageView &source, const ImageView &reference, MatchLut &lut, float smoothing,
                       PreserveMode preserveMode, bool skipTransparent) {
  return buildFromFiling(lut, smoothing, [&](double *cells, int n) {
    walkPairs(source, reference, preserveMode, skipTransparent,
              [&](const float s[3], const float filed[3]) { filePair(cells, n, s, filed, 1.0); });
  });
}

void gatherSameFramePairs(const ImageView &source, const ImageView &reference, PreserveMode preserveMode,
                          bool skipTransparent, SampledPairs &pairs) {
  pairs.values.clear();
  walkPairs(source, reference, preserveMode, skipTransparent, [&](const float s[3], const float filed[3]) {
    pairs.values.insert(pairs.values.end(), {s[0], s[1], s[2], filed[0], filed[1], filed[2]});
  });
}

bool buildSameFrameLutFromPairs(const SampledPairs *const *frames, const float *weights, int count, MatchLut &lut,
                                float smoothing) {
  return buildFromFiling(lut, smoothing, [&](double *cells, int n) {
    for (int f = 0; f < count; ++f) {
      const std::vector<float> &v = frames[f]->values;
      const double w = static_cast<double>(weights[f]);
      for (size_t i = 0; i + 6 <= v.size(); i += 6) filePair(cells, n, &v[i], &v[i + 3], w);
    }
  });
}
