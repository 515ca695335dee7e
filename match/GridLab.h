// Scaled Lab values of the grid colours of the LUT size the plug-in uses.
#ifndef TINTBRIDGE_GRID_LAB_H
#define TINTBRIDGE_GRID_LAB_H

#include "lut/MatchLut.h"

// The size whose grid colours are converted once per process.
constexpr int kCachedGridSize = kMatchLutSize;

// rgbToLab of every grid colour (i, j, k) / (n - 1), or null when n is not
// the cached size or the table could not be allocated. Row (i, j) starts at
// float (i * n + j) * 3 * n and holds three
// planes of n values: L', a', b' for k = 0 ... n - 1. Computed on first use,
// safely from any thread; read-only after.
const float *gridLabValues(int n);

#endif
