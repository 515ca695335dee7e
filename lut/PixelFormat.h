// Conversion of one component between the pixel depths and float in [0, 1]:
// bytes / 255 and shorts / 65535 on the way in; clamped, scaled and rounded
// on the way out.
#ifndef TINTBRIDGE_PIXEL_FORMAT_H
#define TINTBRIDGE_PIXEL_FORMAT_H

#include <cstdint>

#include "lut/Clamp.h"

template <class T>
inline float toFloat(T v);
template <>
inline float toFloat<float>(float v) {
  return v;
}
template <>
inline float toFloat<uint8_t>(uint8_t v) {
  return static_cast<float>(v) / 255.0f;
}
template <>
inline float toFloat<uint16_t>(uint16_t v) {
  return static_cast<float>(v) / 65535.0f;
}

template <class T>
inline T fromFloat(float v);
template <>
inline float fromFloat<float>(float v) {
  return v;
}
template <>
inline uint8_t fromFloat<uint8_t>(float v) {
  return static_cast<uint8_t>(clampUnit(v) * 255.0f + 0.5f);
}
template <>
inline uint16_t fromFloat<uint16_t>(float v) {
  return static_cast<uint16_t>(clampUnit(v) * 65535.0f + 0.5f);
}

#endif
