// The sampling step of the builders: every step-th pixel of every step-th row,
// so that about `samples` pixels of a width x height image are read.
#ifndef TINTBRIDGE_SAMPLING_H
#define TINTBRIDGE_SAMPLING_H

#include <cmath>
#include <cstdint>

inline int samplingStep(int width, int height, double samples) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels <= 0) return 1;
  const int step = static_cast<int>(std::sqrt(static_cast<double>(pixels) / samples));
  return step > 1 ? step : 1;
}

#endif
