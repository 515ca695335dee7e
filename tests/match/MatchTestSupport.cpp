#include "MatchTestSupport.h"
#include "support/LiteralSmoothing.h"

#include <cmath>
#include <string>


TestImage makePicture(int width, int height) {
  TestImage image = makeImage(width, height, 0.0f, 0.0f, 0.0f);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float u = static_cast<float>(x) / static_cast<float>(width);
      float v = static_cast<float>(y) / static_cast<float>(height);
      float *p = image.at(x, y);
      p[0] = 0.5f + 0.45f * std::sin(6.0f * u + 2.0f * v);
      p[1] = 0.5f + 0.45f * std::sin(4.0f * v - 3.0f * u + 1.0f) * std::cos(1.5f * u);
      p[2] = 0.5f + 0.45f * std::cos(5.0f * u * v + 3.0f * v);
    }
  }
  return image;
}

TestImage gradeImage(const TestImage &image, const float gain[3], const float gamma[3], const float lift[3]) {
  TestImage graded = image;
  for (size_t p = 0; p < graded.pixels.size(); p += 4) {
    for (int c = 0; c < 3; ++c) {
      graded.pixels[p + c] = gain[c] * std::pow(image.pixels[p + c], gamma[c]) + lift[c];
    }
  }
  return graded;
}

float maxDifference(const MatchLut &a, const MatchLut &b) {
  float worst = 0.0f;
  const int64_t count = static_cast<int64_t>(a.size) * a.size * a.size * 3;
  for (int64_t v = 0; v < count; ++v) {
    worst = std::fmax(worst, std::fabs(a.data[v] - b.data[v]));
  }
  return worst;
}

float maxDifferenceFromIdentity(const MatchLut &lut) {
  const int n = lut.size;
  float worst = 0.0f;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        const float *e = entry(lut, i, j, k);
        worst = std::fmax(worst, std::fabs(e[0] - gridValue(i, n)));
        worst = std::fmax(worst, std::fabs(e[1] - gridValue(j, n)));
        worst = std::fmax(worst, std::fabs(e[2] - gridValue(k, n)));
      }
  return worst;
}


void literalInteriorSmooth(const float *in, float *out, int n, int r, int channels) {
  literalBoxMean(in, out, n, r, channels, true);
}

void literalCutMean(const float *in, float *out, int n, int r, int channels) {
  literalBoxMean(in, out, n, r, channels, false);
}
