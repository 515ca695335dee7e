// The builders' smoothing written window by window with float running sums:
// the form the fast separable smoothing is held against, and the cost
// baseline of the benchmarks.
#ifndef TINTBRIDGE_TESTS_LITERAL_SMOOTHING_H
#define TINTBRIDGE_TESTS_LITERAL_SMOOTHING_H

#include <cstdint>

// interiorOnly: cells at least r from every face get their full window's
// mean, others keep their values. Otherwise every cell gets the mean over the
// in-grid part of its window. Up to four channels.
inline void literalBoxMean(const float *in, float *out, int n, int r, int channels, bool interiorOnly) {
  const int64_t count = static_cast<int64_t>(n) * n * n * channels;
  for (int64_t v = 0; v < count; ++v) out[v] = in[v];
  auto index = [&](int i, int j, int k) { return ((static_cast<int64_t>(i) * n + j) * n + k) * channels; };
  const int lo = interiorOnly ? r : 0;
  const int hi = interiorOnly ? n - r : n;
  for (int i = lo; i < hi; ++i)
    for (int j = lo; j < hi; ++j)
      for (int k = lo; k < hi; ++k) {
        // One float running sum per channel, each in memory order.
        float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        int used = 0;
        for (int di = -r; di <= r; ++di)
          for (int dj = -r; dj <= r; ++dj)
            for (int dk = -r; dk <= r; ++dk) {
              int a = i + di, b = j + dj, d = k + dk;
              if (a < 0 || a >= n || b < 0 || b >= n || d < 0 || d >= n) continue;
              const float *cell = in + index(a, b, d);
              for (int c = 0; c < channels; ++c) sum[c] += cell[c];
              ++used;
            }
        for (int c = 0; c < channels; ++c) out[index(i, j, k) + c] = sum[c] / static_cast<float>(used);
      }
}

#endif
