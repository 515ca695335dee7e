// The colour match of one instance: an n x n x n grid of RGB output colours
// over the unit cube. Entry (r, g, b) is the float triple at
// ((r * n + g) * n + b) * 3; red index slowest, grid index i stands for
// i / (n - 1).
#ifndef TINTBRIDGE_MATCH_LUT_H
#define TINTBRIDGE_MATCH_LUT_H

#include <atomic>
#include <cstdint>

struct CdlValues;

// Points per axis a grid may have, and the size the effect builds.
constexpr int kMinLutSize = 2;
constexpr int kMaxLutSize = 256;
constexpr int kMatchLutSize = 65;

class MatchLut {
 public:
  float *data = nullptr;           // owned grid, uninitialised until built
  int size = 0;                    // points per axis; 0 without a grid
  std::atomic<bool> valid{false};  // set last by a builder

  MatchLut() = default;
  ~MatchLut();
  MatchLut(const MatchLut &) = delete;
  MatchLut &operator=(const MatchLut &) = delete;

  // Makes sure a grid of `n` points per axis exists (kMinLutSize ... kMaxLutSize) and clears
  // `valid`. Keeps the array when the size is unchanged. Never throws.
  bool allocate(int n);

  // Frees the grid: Empty state.
  void release();

  // Trilinear lookup, B then G then R; edge cells extrapolate, no clamping.
  void lookup(float r, float g, float b, float &outR, float &outG, float &outB) const;

  // Writes the grid as a .cube file with the strengths baked in.
  bool writeCube(const char *path, float mix, float strengthR, float strengthG, float strengthB) const;

  // Fits slope, offset and saturation to the grid; leaves `values` alone when
  // the grid is not valid or absent.
  void fitCdl(CdlValues &values) const;

  // Float offset of entry (r, g, b).
  static inline int64_t entryOffset(int n, int r, int g, int b) {
    return ((static_cast<int64_t>(r) * n + g) * n + b) * 3;
  }
};

#endif
