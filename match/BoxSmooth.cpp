#include "match/BoxSmooth.h"

#include <algorithm>
#include <cstdint>

#include "lut/MatchLut.h"

namespace {

// Values handled side by side in one pass; the prefix block of (n + 1) rows of
// this many doubles stays in the first-level cache.
constexpr int kChunk = 32;

constexpr int kMaxGrid = kMaxLutSize;

// Prefix sums of one chunk: prefix row t + 1 holds the sum of rows 0 ... t.
void prefixChunk(const double *block, int n, int64_t stride, int w, double *prefix) {
  for (int l = 0; l < w; ++l) {
    prefix[l] = 0.0;
  }
  for (int t = 0; t < n; ++t) {
    const double *row = block + t * stride;
    const double *before = prefix + static_cast<int64_t>(t) * kChunk;
    double *after = prefix + static_cast<int64_t>(t + 1) * kChunk;
    for (int l = 0; l < w; ++l) {
      after[l] = before[l] + row[l];
    }
  }
}

// The grid seen as blocks[outer][n][stride]: window sums along the middle
// index, in place. A window sum is the difference of two prefix sums, so it
// is exactly zero where the window holds only zeros.
void boxSumAxis(double *cells, int n, int64_t outer, int64_t stride, int r, double *prefix) {
  for (int64_t o = 0; o < outer; ++o) {
    double *block = cells + o * n * stride;
    for (int64_t l0 = 0; l0 < stride; l0 += kChunk) {
      const int w = static_cast<int>(std::min<int64_t>(kChunk, stride - l0));
      prefixChunk(block + l0, n, stride, w, prefix);
      for (int a = 0; a < n; ++a) {
        const double *top = prefix + static_cast<int64_t>(std::min(a + r, n - 1) + 1) * kChunk;
        const double *bottom = prefix + static_cast<int64_t>(std::max(a - r, 0)) * kChunk;
        double *row = block + a * stride + l0;
        for (int l = 0; l < w; ++l) {
          row[l] = top[l] - bottom[l];
        }
      }
    }
  }
}

// Window sums along blue, the fastest index: each line of n cells of C
// channels is a short block of its own.
template <int C>
void boxSumBlue(double *cells, int n, int r, double *prefix) {
  const int64_t lines = static_cast<int64_t>(n) * n;
  for (int64_t o = 0; o < lines; ++o) {
    double *line = cells + o * n * C;
    double running[C] = {};
    for (int c = 0; c < C; ++c) {
      prefix[c] = 0.0;
    }
    for (int t = 0; t < n; ++t) {
      for (int c = 0; c < C; ++c) {
        running[c] += line[t * C + c];
        prefix[(t + 1) * C + c] = running[c];
      }
    }
    for (int a = 0; a < n; ++a) {
      const double *top = prefix + (std::min(a + r, n - 1) + 1) * C;
      const double *bottom = prefix + std::max(a - r, 0) * C;
      for (int c = 0; c < C; ++c) {
        line[a * C + c] = top[c] - bottom[c];
      }
    }
  }
}

}  // namespace

size_t boxSumScratchCount(int n) { return static_cast<size_t>(n + 1) * kChunk; }

void boxSumCut(double *cells, int n, int channels, int r, double *scratch) {
  const int64_t c = channels;
  const int64_t nn = static_cast<int64_t>(n) * n;
  if (channels == 3) {
    boxSumBlue<3>(cells, n, r, scratch);
  } else if (channels == 4) {
    boxSumBlue<4>(cells, n, r, scratch);
  } else {
    boxSumAxis(cells, n, nn, c, r, scratch);
  }
  boxSumAxis(cells, n, n, n * c, r, scratch);
  boxSumAxis(cells, n, 1, nn * c, r, scratch);
}

size_t boxMeanInteriorScratchCount(int n, int r) {
  if (r <= 0 || n <= 2 * r) {
    return 0;
  }
  const size_t side = static_cast<size_t>(n - 2 * r);
  return static_cast<size_t>(n) * side * side * 3 + static_cast<size_t>(n) * side * 3;
}

void boxMeanInterior(const float *in, float *out, int n, int r, double *scratch) {
  if (r <= 0 || n <= 2 * r) {
    return;
  }
  // One red plane at a time: blue then green window sums of the interior
  // (j, k) cells, kept as running sums over the red index, so that the red
  // window of plane i is the difference of two of them. Plane i is written
  // once plane i + r has been read, so `in` and `out` may be the same grid.
  const int lo = r, hi = n - r, side = n - 2 * r;
  const int64_t planeValues = static_cast<int64_t>(side) * side * 3;
  const int64_t lineValues = static_cast<int64_t>(side) * 3;
  double *planes = scratch;                    // n planes of running sums
  double *lines = scratch + n * planeValues;   // blue sums of the plane being read, n lines
  const double edge = 2.0 * r + 1.0;
  const double inverseVolume = 1.0 / (edge * edge * edge);
  for (int i = 0; i < n; ++i) {
    // Blue window sums of each line j, interior k only.
    for (int j = 0; j < n; ++j) {
      const float *source = in + MatchLut::entryOffset(n, i, j, 0);
      double *line = lines + j * lineValues;
      double prefix[3] = {0.0, 0.0, 0.0};
      double runs[kMaxGrid + 1][3];
      runs[0][0] = runs[0][1] = runs[0][2] = 0.0;
      for (int k = 0; k < n; ++k) {
        for (int c = 0; c < 3; ++c) {
          prefix[c] += static_cast<double>(source[k * 3 + c]);
          runs[k + 1][c] = prefix[c];
        }
      }
      for (int k = lo; k < hi; ++k) {
        for (int c = 0; c < 3; ++c) {
          line[(k - lo) * 3 + c] = runs[k + r + 1][c] - runs[k - r][c];
        }
      }
    }
    // Green: running sums over j in place, then the window differences.
    for (int j = 1; j < n; ++j) {
      const double *before = lines + (j - 1) * lineValues;
      double *line = lines + j * lineValues;
      for (int64_t v = 0; v < lineValues; ++v) {
        line[v] += before[v];
      }
    }
    double *plane = planes + i * planeValues;
    const double *previous = i > 0 ? plane - planeValues : nullptr;
    for (int j = lo; j < hi; ++j) {
      const double *top = lines + (j + r) * lineValues;
      const double *bottom = j - r - 1 >= 0 ? lines + (j - r - 1) * lineValues : nullptr;
      double *row = plane + (j - lo) * lineValues;
      for (int64_t v = 0; v < lineValues; ++v) {
        const double sum = top[v] - (bottom != nullptr ? bottom[v] : 0.0);
        row[v] = sum + (previous != nullptr ? previous[(j - lo) * lineValues + v] : 0.0);
      }
    }
    // Red: plane i - r is complete once plane i is in.
    const int target = i - r;
    if (target >= lo && target < hi) {
      const double *upper = planes + static_cast<int64_t>(i) * planeValues;
      const double *lower = target - r - 1 >= 0 ? planes + static_cast<int64_t>(target - r - 1) * planeValues : nullptr;
      for (int j = lo; j < hi; ++j) {
        float *destination = out + MatchLut::entryOffset(n, target, j, lo);
        const int64_t base = (j - lo) * lineValues;
        for (int64_t v = 0; v < lineValues; ++v) {
          const double sum = upper[base + v] - (lower != nullptr ? lower[base + v] : 0.0);
          destination[v] = static_cast<float>(sum * inverseVolume);
        }
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
