#include "match/BoxSmooth.h"

#include <algorithm>
#include <cstdint>

namespace {

// Values handled side by side in one pass; the prefix block of (n + 1) rows of
// this many doubles stays in cache.
constexpr int kChunk = 64;

// The grid seen as blocks[outer][n][inner]: sums along the middle index.
void boxSumAxis(double *cells, int n, int64_t outer, int64_t inner, int r, double *prefix) {
  for (int64_t o = 0; o < outer; ++o) {
    double *block = cells + o * n * inner;
    for (int64_t l0 = 0; l0 < inner; l0 += kChunk) {
      int w = static_cast<int>(std::min<int64_t>(kChunk, inner - l0));
      for (int l = 0; l < w; ++l) {
        prefix[l] = 0.0;
      }
      for (int t = 0; t < n; ++t) {
        const double *row = block + t * inner + l0;
        const double *before = prefix + static_cast<int64_t>(t) * kChunk;
        double *after = prefix + static_cast<int64_t>(t + 1) * kChunk;
        for (int l = 0; l < w; ++l) {
          after[l] = before[l] + row[l];
        }
      }
      for (int a = 0; a < n; ++a) {
        int hi = std::min(a + r, n - 1) + 1;
        int lo = std::max(a - r, 0);
        const double *top = prefix + static_cast<int64_t>(hi) * kChunk;
        const double *bottom = prefix + static_cast<int64_t>(lo) * kChunk;
        double *row = block + a * inner + l0;
        for (int l = 0; l < w; ++l) {
          row[l] = top[l] - bottom[l];
        }
      }
    }
  }
}

}  // namespace

size_t boxSumScratchCount(int n) { return static_cast<size_t>(n + 1) * kChunk; }

void boxSumCut(double *cells, int n, int channels, int r, double *scratch) {
  int64_t c = channels;
  int64_t nn = static_cast<int64_t>(n) * n;
  boxSumAxis(cells, n, nn, c, r, scratch);      // blue
  boxSumAxis(cells, n, n, n * c, r, scratch);   // green
  boxSumAxis(cells, n, 1, nn * c, r, scratch);  // red
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
