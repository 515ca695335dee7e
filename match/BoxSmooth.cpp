#include "match/BoxSmooth.h"

#include <algorithm>
#include <cstdint>

namespace {

// Values handled side by side in one pass; the prefix block of (n + 1) rows of
// this many doubles stays in the first-level cache.
constexpr int kChunk = 32;

// Prefix sums of one chunk: prefix row t + 1 holds the sum of rows 0 ... t.
template <typename Value>
void prefixChunk(const Value *block, int n, int64_t inner, int w, double *prefix) {
  for (int l = 0; l < w; ++l) {
    prefix[l] = 0.0;
  }
  for (int t = 0; t < n; ++t) {
    const Value *row = block + t * inner;
    double *before = prefix + static_cast<int64_t>(t) * kChunk;
    double *after = before + kChunk;
    for (int l = 0; l < w; ++l) {
      after[l] = before[l] + static_cast<double>(row[l]);
    }
  }
}

// The grid seen as blocks[outer][n][stride]: window sums along the middle
// index of the first `width` values of each row, for outputs a in [aLo, aHi).
// `in` and `out` may be the same buffer.
template <typename Value>
void boxSumAxis(const Value *in, double *out, int n, int64_t outer, int64_t stride, int64_t width, int r, int aLo,
                int aHi, double *prefix) {
  for (int64_t o = 0; o < outer; ++o) {
    const Value *source = in + o * n * stride;
    double *target = out + o * n * stride;
    for (int64_t l0 = 0; l0 < width; l0 += kChunk) {
      const int w = static_cast<int>(std::min<int64_t>(kChunk, width - l0));
      prefixChunk(source + l0, n, stride, w, prefix);
      for (int a = aLo; a < aHi; ++a) {
        const double *top = prefix + static_cast<int64_t>(std::min(a + r, n - 1) + 1) * kChunk;
        const double *bottom = prefix + static_cast<int64_t>(std::max(a - r, 0)) * kChunk;
        double *row = target + a * stride + l0;
        for (int l = 0; l < w; ++l) {
          row[l] = top[l] - bottom[l];
        }
      }
    }
  }
}

// Window sums along blue, the fastest index: each row of n cells of C
// channels is one short block of its own.
template <typename Value, int C>
void boxSumBlue(const Value *in, double *out, int n, int r, int aLo, int aHi, double *prefix) {
  const int64_t rows = static_cast<int64_t>(n) * n;
  for (int64_t o = 0; o < rows; ++o) {
    const Value *source = in + o * n * C;
    double *target = out + o * n * C;
    double running[C] = {};
    for (int c = 0; c < C; ++c) {
      prefix[c] = 0.0;
    }
    for (int t = 0; t < n; ++t) {
      for (int c = 0; c < C; ++c) {
        running[c] += static_cast<double>(source[t * C + c]);
        prefix[(t + 1) * C + c] = running[c];
      }
    }
    for (int a = aLo; a < aHi; ++a) {
      const double *top = prefix + (std::min(a + r, n - 1) + 1) * C;
      const double *bottom = prefix + std::max(a - r, 0) * C;
      for (int c = 0; c < C; ++c) {
        target[a * C + c] = top[c] - bottom[c];
      }
    }
  }
}

template <typename Value>
void boxSumBlueAny(const Value *in, double *out, int n, int channels, int r, int aLo, int aHi, double *prefix) {
  if (channels == 3) {
    boxSumBlue<Value, 3>(in, out, n, r, aLo, aHi, prefix);
  } else if (channels == 4) {
    boxSumBlue<Value, 4>(in, out, n, r, aLo, aHi, prefix);
  } else {
    boxSumAxis(in, out, n, static_cast<int64_t>(n) * n, channels, channels, r, aLo, aHi, prefix);
  }
}

}  // namespace

size_t boxSumScratchCount(int n) { return static_cast<size_t>(n + 1) * kChunk; }

void boxSumCut(double *cells, int n, int channels, int r, double *scratch) {
  const int64_t c = channels;
  const int64_t nn = static_cast<int64_t>(n) * n;
  boxSumBlueAny(cells, cells, n, channels, r, 0, n, scratch);
  boxSumAxis(cells, cells, n, n, n * c, n * c, r, 0, n, scratch);
  boxSumAxis(cells, cells, n, 1, nn * c, nn * c, r, 0, n, scratch);
}

void boxMeanInterior(const float *in, float *out, int n, int r, double *cells, double *scratch) {
  if (r <= 0 || n <= 2 * r) {
    return;
  }
  const int64_t nn = static_cast<int64_t>(n) * n;
  const int lo = r, hi = n - r;
  const int64_t interiorWidth = static_cast<int64_t>(hi - lo) * 3;
  // Blue sums for interior blue indices, then green sums for interior green
  // indices, then red sums for the interior cells alone: each pass computes
  // only what the next one reads.
  boxSumBlue<float, 3>(in, cells, n, r, lo, hi, scratch);
  for (int i = 0; i < n; ++i) {
    double *plane = cells + i * nn * 3;
    boxSumAxis(plane + lo * 3, plane + lo * 3, n, 1, static_cast<int64_t>(n) * 3, interiorWidth, r, lo, hi, scratch);
  }
  const double side = 2.0 * r + 1.0;
  const double volume = side * side * side;
  for (int j = lo; j < hi; ++j) {
    // Red sums of one green row of interior blue cells.
    double *column = cells + (static_cast<int64_t>(j) * n + lo) * 3;
    boxSumAxis(column, column, n, 1, nn * 3, interiorWidth, r, lo, hi, scratch);
    for (int i = lo; i < hi; ++i) {
      const int64_t base = ((static_cast<int64_t>(i) * n + j) * n + lo) * 3;
      for (int64_t v = 0; v < interiorWidth; ++v) {
        out[base + v] = static_cast<float>(cells[base + v] / volume);
      }
    }
  }
}

int cutWindowWidth(int i, int n, int r) { return std::min(i + r, n - 1) - std::max(i - r, 0) + 1; }

int smoothingRadius(float smoothing, int n) {
  if (!(smoothing > 0.0f)) {
    return 0;
  }
  if (smoothing >= static_cast<float>(n)) {
    return n;
  }
  return static_cast<int>(smoothing);
}
