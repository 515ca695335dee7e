// CIEDE2000 colour difference between pixel values taken as sRGB-encoded
// display values (CIE L*a*b*, D65 white), and the frame-to-frame difference
// of a pan: the same photograph pixels compared in two consecutive frames.
// Header only: the benchmarks and the tintbridge-flicker tool share it.
#ifndef TINTBRIDGE_BENCH_DELTA_E_H
#define TINTBRIDGE_BENCH_DELTA_E_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace tbbench {

struct Lab {
  float l = 0.0f;
  float a = 0.0f;
  float b = 0.0f;
};

inline double srgbDecode(double v) {
  const double m = std::fabs(v);
  const double lin = m <= 0.04045 ? m / 12.92 : std::pow((m + 0.055) / 1.055, 2.4);
  return v < 0.0 ? -lin : lin;
}

inline double labCurve(double t) {
  constexpr double kEpsilon = 216.0 / 24389.0;  // (6/29)^3
  constexpr double kKappa = 24389.0 / 27.0;
  return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0;
}

// sRGB primaries, D65 white (IEC 61966-2-1).
inline Lab srgbToLab(double r, double g, double b) {
  const double lr = srgbDecode(r), lg = srgbDecode(g), lb = srgbDecode(b);
  const double x = 0.4124564 * lr + 0.3575761 * lg + 0.1804375 * lb;
  const double y = 0.2126729 * lr + 0.7151522 * lg + 0.0721750 * lb;
  const double z = 0.0193339 * lr + 0.1191920 * lg + 0.9503041 * lb;
  const double fx = labCurve(x / 0.95047), fy = labCurve(y), fz = labCurve(z / 1.08883);
  return Lab{static_cast<float>(116.0 * fy - 16.0), static_cast<float>(500.0 * (fx - fy)),
             static_cast<float>(200.0 * (fy - fz))};
}

// Sharma, Wu and Dalal's formulation (2005), kL = kC = kH = 1.
inline double ciede2000(double l1, double a1, double b1, double l2, double a2, double b2) {
  constexpr double kPi = 3.14159265358979323846;
  constexpr double kDeg = kPi / 180.0;
  constexpr double k25To7 = 6103515625.0;  // 25^7
  auto pow7 = [](double v) {
    const double v2 = v * v;
    return v2 * v2 * v2 * v;
  };
  const double cBar = 0.5 * (std::sqrt(a1 * a1 + b1 * b1) + std::sqrt(a2 * a2 + b2 * b2));
  const double cBar7 = pow7(cBar);
  const double g = 0.5 * (1.0 - std::sqrt(cBar7 / (cBar7 + k25To7)));
  const double ap1 = (1.0 + g) * a1, ap2 = (1.0 + g) * a2;
  const double cp1 = std::sqrt(ap1 * ap1 + b1 * b1), cp2 = std::sqrt(ap2 * ap2 + b2 * b2);
  auto hue = [&](double b, double ap) {
    if (b == 0.0 && ap == 0.0) return 0.0;
    const double h = std::atan2(b, ap) / kDeg;
    return h < 0.0 ? h + 360.0 : h;
  };
  const double hp1 = hue(b1, ap1), hp2 = hue(b2, ap2);
  const bool achromatic = cp1 * cp2 == 0.0;

  double dhp = 0.0;
  if (!achromatic) {
    dhp = hp2 - hp1;
    if (dhp > 180.0) dhp -= 360.0;
    else if (dhp < -180.0) dhp += 360.0;
  }
  const double dL = l2 - l1;
  const double dC = cp2 - cp1;
  const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(0.5 * dhp * kDeg);

  const double lBar = 0.5 * (l1 + l2);
  const double cpBar = 0.5 * (cp1 + cp2);
  double hBar = hp1 + hp2;
  if (!achromatic) {
    if (std::fabs(hp1 - hp2) <= 180.0) hBar *= 0.5;
    else hBar = hBar < 360.0 ? 0.5 * (hBar + 360.0) : 0.5 * (hBar - 360.0);
  }
  const double t = 1.0 - 0.17 * std::cos((hBar - 30.0) * kDeg) + 0.24 * std::cos(2.0 * hBar * kDeg) +
                   0.32 * std::cos((3.0 * hBar + 6.0) * kDeg) - 0.20 * std::cos((4.0 * hBar - 63.0) * kDeg);
  const double hOff = (hBar - 275.0) / 25.0;
  const double dTheta = 30.0 * std::exp(-hOff * hOff);
  const double cpBar7 = pow7(cpBar);
  const double rC = 2.0 * std::sqrt(cpBar7 / (cpBar7 + k25To7));
  const double l50 = (lBar - 50.0) * (lBar - 50.0);
  const double sL = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
  const double sC = 1.0 + 0.045 * cpBar;
  const double sH = 1.0 + 0.015 * cpBar * t;
  const double rT = -std::sin(2.0 * dTheta * kDeg) * rC;
  const double tl = dL / sL, tc = dC / sC, th = dH / sH;
  return std::sqrt(std::max(0.0, tl * tl + tc * tc + th * th + rT * tc * th));
}

inline double ciede2000(const Lab &p, const Lab &q) { return ciede2000(p.l, p.a, p.b, q.l, q.a, q.b); }

// The conversion and the difference against published values: pairs from
// Sharma, Wu and Dalal's test table (among them the hue-angle wrap cases),
// and sRGB white and red. "" when all agree, else the first that does not.
inline std::string deltaEProblem() {
  struct Pair {
    double l1, a1, b1, l2, a2, b2, expected;
  };
  static const Pair kPairs[] = {
      {50.0, 2.6772, -79.7751, 50.0, 0.0, -82.7485, 2.0425},
      {50.0, 0.0, 0.0, 50.0, -1.0, 2.0, 2.3669},
      {50.0, 2.49, -0.001, 50.0, -2.49, 0.0009, 7.1792},
      {50.0, 2.49, -0.001, 50.0, -2.49, 0.0011, 7.2195},
      {50.0, 2.5, 0.0, 73.0, 25.0, -18.0, 27.1492},
      {50.0, 2.5, 0.0, 56.0, -27.0, -3.0, 31.9030},
      {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
      {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.2630},
      {2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082},
  };
  char text[160];
  for (const Pair &p : kPairs) {
    for (int order = 0; order < 2; ++order) {  // the difference is symmetric
      const double d = order == 0 ? ciede2000(p.l1, p.a1, p.b1, p.l2, p.a2, p.b2)
                                  : ciede2000(p.l2, p.a2, p.b2, p.l1, p.a1, p.b1);
      if (!(std::fabs(d - p.expected) <= 1e-4)) {
        std::snprintf(text, sizeof text, "CIEDE2000 of (%g %g %g) and (%g %g %g) is %.5f, published %.4f", p.l1,
                      p.a1, p.b1, p.l2, p.a2, p.b2, d, p.expected);
        return text;
      }
    }
  }
  const Lab white = srgbToLab(1.0, 1.0, 1.0), red = srgbToLab(1.0, 0.0, 0.0);
  if (std::fabs(white.l - 100.0f) > 1e-3f || std::fabs(white.a) > 1e-3f || std::fabs(white.b) > 1e-3f)
    return "sRGB white is not L* 100, a* b* 0";
  if (std::fabs(red.l - 53.24f) > 0.01f || std::fabs(red.a - 80.09f) > 0.01f || std::fabs(red.b - 67.20f) > 0.01f)
    return "sRGB red is not L*a*b* (53.24, 80.09, 67.20)";
  return std::string();
}

// A picture in L*a*b*, top row first.
struct LabImage {
  int width = 0;
  int height = 0;
  std::vector<Lab> pixels;

  const Lab &at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Float RGBA pixels: `top` is the top-left pixel, `rowStride` floats from a
// row to the one below it (negative for bottom-up storage).
inline LabImage labImageOf(int width, int height, const float *top, std::ptrdiff_t rowStride) {
  LabImage out;
  out.width = width;
  out.height = height;
  out.pixels.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const float *p = top + y * rowStride;
    for (int x = 0; x < width; ++x, p += 4) out.pixels[static_cast<size_t>(y) * width + x] = srgbToLab(p[0], p[1], p[2]);
  }
  return out;
}

// Mean CIEDE2000 between two frames of a pan whose window moves (dx, dy)
// pixels a frame: pixel (x, y) of `next` shows what pixel (x + dx, y + dy) of
// `previous` shows. Only pixels both frames show count; -1 when there are none
// or the frames differ in size.
inline double panDifference(const LabImage &previous, const LabImage &next, int dx, int dy) {
  if (previous.width != next.width || previous.height != next.height) return -1.0;
  const int x0 = std::max(0, -dx), x1 = std::min(next.width, next.width - dx);
  const int y0 = std::max(0, -dy), y1 = std::min(next.height, next.height - dy);
  if (x0 >= x1 || y0 >= y1) return -1.0;
  double sum = 0.0;
  for (int y = y0; y < y1; ++y) {
    double row = 0.0;
    for (int x = x0; x < x1; ++x) row += ciede2000(next.at(x, y), previous.at(x + dx, y + dy));
    sum += row;
  }
  return sum / (static_cast<double>(x1 - x0) * (y1 - y0));
}

}  // namespace tbbench

#endif
