#include "match/GridLab.h"

#include <cstddef>
#include <new>

#include "match/ColorSpace.h"

namespace {

struct GridLabTable {
  float *values = nullptr;
  GridLabTable() {
    const int n = kCachedGridSize;
    values = new (std::nothrow) float[static_cast<size_t>(n) * n * n * 3];
    if (values == nullptr) {
      return;
    }
    const float last = static_cast<float>(n - 1);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        float *row = values + (static_cast<size_t>(i) * n + j) * 3 * n;
        for (int k = 0; k < n; ++k) {
          rgbToLab(static_cast<float>(i) / last, static_cast<float>(j) / last, static_cast<float>(k) / last, row[k],
                   row[n + k], row[2 * n + k]);
        }
      }
    }
  }
  ~GridLabTable() { delete[] values; }
  GridLabTable(const GridLabTable &) = delete;
  GridLabTable &operator=(const GridLabTable &) = delete;
};

}  // namespace

const float *gridLabValues(int n) {
  if (n != kCachedGridSize) {
    return nullptr;
  }
  static const GridLabTable table;  // initialised once, thread-safe
  return table.values;
}
