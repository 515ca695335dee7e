// The clamp rule of the whole system: min with the upper bound first (so a
// NaN becomes the upper bound), then max with the lower bound (so -0 becomes
// +0 at a lower bound of 0).
#ifndef TINTBRIDGE_CLAMP_H
#define TINTBRIDGE_CLAMP_H

inline float clampColor(float v, float lo, float hi) {
  const float t = (v < hi) ? v : hi;
  return (t > lo) ? t : lo;
}

// clampColor to [0, 1].
inline float clampUnit(float v) { return clampColor(v, 0.0f, 1.0f); }

#endif
