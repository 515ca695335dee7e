#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "match/BoxSmooth.h"

namespace {

// Window sums of a pseudo-random field, cell by cell in double.
TEST(BoxSmooth, MatchesDirectWindowSums) {
  struct Case { int n, channels, r; };
  for (Case c : {Case{65, 3, 5}, Case{7, 4, 1}, Case{7, 4, 2}, Case{4, 3, 9}, Case{2, 4, 1}, Case{5, 3, 0}}) {
    const size_t count = static_cast<size_t>(c.n) * c.n * c.n * c.channels;
    std::vector<double> field(count), box(count);
    unsigned seed = 12345;
    for (double &v : field) {
      seed = seed * 1103515245u + 12345u;
      v = static_cast<double>(seed >> 8) / 16777216.0;
    }
    box = field;
    std::vector<double> scratch(boxSumScratchCount(c.n));
    boxSumCut(box.data(), c.n, c.channels, c.r, scratch.data());
    const int n = c.n;
    auto at = [&](int i, int j, int k) { return ((static_cast<size_t>(i) * n + j) * n + k) * c.channels; };
    double worst = 0.0;
    const int stride = n > 16 ? 5 : 1;  // spot checks on the large grid
    for (int i = 0; i < n; i += stride)
      for (int j = 0; j < n; j += stride)
        for (int k = 0; k < n; ++k)
          for (int ch = 0; ch < c.channels; ++ch) {
            double sum = 0.0;
            int cells = 0;
            for (int a = std::max(i - c.r, 0); a <= std::min(i + c.r, n - 1); ++a)
              for (int b = std::max(j - c.r, 0); b <= std::min(j + c.r, n - 1); ++b)
                for (int d = std::max(k - c.r, 0); d <= std::min(k + c.r, n - 1); ++d, ++cells)
                  sum += field[at(a, b, d) + ch];
            worst = std::fmax(worst, std::fabs(box[at(i, j, k) + ch] - sum));
            EXPECT_EQ(cells, cutWindowWidth(i, n, c.r) * cutWindowWidth(j, n, c.r) * cutWindowWidth(k, n, c.r));
          }
    EXPECT_LT(worst, 1e-9) << "n " << c.n << " r " << c.r;
  }
}

TEST(BoxSmooth, EmptyWindowsSumToExactZero) {
  const int n = 20;
  std::vector<double> field(static_cast<size_t>(n) * n * n * 4, 0.0);
  field[((3 * n + 4) * n + 5) * 4 + 1] = 0.1;
  field[((4 * n + 4) * n + 6) * 4 + 1] = -0.1;
  std::vector<double> scratch(boxSumScratchCount(n));
  boxSumCut(field.data(), n, 4, 3, scratch.data());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        const bool near = i <= 7 && j >= 1 && j <= 7 && k >= 2 && k <= 9;
        if (!near) {
          ASSERT_EQ(field[((i * n + j) * n + k) * 4 + 1], 0.0) << i << " " << j << " " << k;
        }
      }
}

TEST(BoxSmooth, Radius) {
  EXPECT_EQ(smoothingRadius(5.0f, 65), 5);
  EXPECT_EQ(smoothingRadius(1.99f, 65), 1);
  EXPECT_EQ(smoothingRadius(0.9f, 65), 0);
  EXPECT_EQ(smoothingRadius(-2.0f, 65), 0);
  EXPECT_EQ(smoothingRadius(NAN, 65), 0);
  EXPECT_EQ(smoothingRadius(1e30f, 65), 65);
  EXPECT_EQ(smoothingRadius(INFINITY, 65), 65);
}

}  // namespace
