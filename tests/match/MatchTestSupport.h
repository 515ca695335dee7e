// Images, LUT helpers and the literal (window-by-window, float) smoothing
// forms that the fast separable smoothing is held against.
#ifndef TINTBRIDGE_MATCH_TEST_SUPPORT_H
#define TINTBRIDGE_MATCH_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "lut/ImageView.h"
#include "lut/MatchLut.h"

// RGBA float image, rows top-down; rowBytes of a view may point bottom-up.
struct TestImage {
  int width = 0;
  int height = 0;
  std::vector<float> pixels;
  float *at(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const float *data() const { return pixels.data(); }
  int rowBytes() const { return width * 16; }
  ImageView view() const { return ImageView{data(), width, height, rowBytes(), 4}; }
};

inline TestImage makeImage(int width, int height, float r, float g, float b) {
  TestImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float *p = image.at(x, y);
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = 1.0f;
    }
  }
  return image;
}

// A photograph-like picture: smooth gradients with some texture, every
// channel over most of [0, 1].
TestImage makePicture(int width, int height);

// Copy of `image` with channel c mapped through gain[c] * v^gamma[c] + lift[c].
TestImage gradeImage(const TestImage &image, const float gain[3], const float gamma[3], const float lift[3]);

inline float gridValue(int i, int n) { return static_cast<float>(i) / static_cast<float>(n - 1); }

inline const float *entry(const MatchLut &lut, int i, int j, int k) {
  return lut.data + MatchLut::entryOffset(lut.size, i, j, k);
}

// Largest absolute difference between two grids of equal size.
float maxDifference(const MatchLut &a, const MatchLut &b);
float maxDifferenceFromIdentity(const MatchLut &lut);

// Interior smoothing written window by window: cells at least r from every
// face get the float running sum of their (2r + 1)^3 window divided by the
// window's size; other cells keep their values.
void literalInteriorSmooth(const float *in, float *out, int n, int r, int channels);

// Cut-window mean (up to four channels): every cell gets the float running sum over the in-grid
// part of its window divided by the number of cells in it.
void literalCutMean(const float *in, float *out, int n, int r, int channels);

#endif
