// Separable box sums over a cubic grid of cells, in double precision.
#ifndef TINTBRIDGE_BOX_SMOOTH_H
#define TINTBRIDGE_BOX_SMOOTH_H

#include <cstddef>

// Doubles of working space that boxSumCut needs for a grid of n points a side.
size_t boxSumScratchCount(int n);

// Replaces every value of `cells` (n * n * n cells of `channels` doubles each,
// red index slowest, blue fastest) by the sum of that channel over the cells
// whose three indices each differ from its own by at most r, windows cut at
// the faces of the grid. Three one-dimensional passes of prefix sums: O(n^3)
// whatever r. Where a window holds only zeros its sum is exactly zero.
// `scratch` holds boxSumScratchCount(n) doubles.
void boxSumCut(double *cells, int n, int channels, int r, double *scratch);

// Interior smoothing: every cell at least r from each face of `out` gets the
// mean of the (2r + 1)^3 values of `in` around it, summed in double and
// rounded to float; other cells of `out` are not written. `in` and `out` are
// n-point grids of three floats a cell (n at most 256) and may be the same.
// `scratch` holds boxMeanInteriorScratchCount(n, r) doubles. Nothing happens
// when the grid has no interior (n <= 2r) or r <= 0.
size_t boxMeanInteriorScratchCount(int n, int r);
void boxMeanInterior(const float *in, float *out, int n, int r, double *scratch);

// Number of cells in the cut window of radius r around index i of an n-point axis.
int cutWindowWidth(int i, int n, int r);

// Smoothing radius from a smoothing amount: truncated toward zero, capped at n
// (any larger radius covers the whole grid just the same); 0 for NaN or
// amounts of 0 or less.
int smoothingRadius(float smoothing, int n);

#endif
