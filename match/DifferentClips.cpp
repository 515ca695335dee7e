// "Different Clips": moves the Source's per-channel mean and deviation onto
// the Reference's in a working colour space, for every grid colour, then
// box-smooths the interior of the grid.
#include <cstdint>

#include "match/BoxSmooth.h"
#include "match/ColorMath.h"
#include "match/GridLab.h"
#include "match/LutBuilders.h"
#include "match/Scratch.h"
#include "plugin/DebugLog.h"

namespace {

struct Transfer {
  ClipStats source;
  ClipStats reference;
  ColorSpace colorSpace;
  PreserveMode preserveMode;
};

// Longest row of cells handled at once.
constexpr int kMaxRow = 256;

struct Row {
  float v[3][kMaxRow];         // grid colours in the working space
  float original[3][kMaxRow];  // grid colours in scaled Lab, for the preserve modes
  float m[3][kMaxRow];         // matched colours
  float out[3][kMaxRow];
};

// Transfers the n cells (i, j, 0 ... n - 1). Each step is a loop over the row,
// branch-free, so that it runs as vector code.
void transferRow(const Transfer &tr, int i, int j, int n, const float *labRow, Row &row) {
  const float last = static_cast<float>(n - 1);
  const float red = static_cast<float>(i) / last;
  const float green = static_cast<float>(j) / last;
  const bool preserve = tr.preserveMode == kPreserveBrightness || tr.preserveMode == kPreserveColors;
  if (tr.colorSpace == kColorSpaceLab || preserve) {
    for (int k = 0; k < n; ++k) {
      if (labRow != nullptr) {
        row.original[0][k] = labRow[k * 3];
        row.original[1][k] = labRow[k * 3 + 1];
        row.original[2][k] = labRow[k * 3 + 2];
      } else {
        rgbToLabKernel(red, green, static_cast<float>(k) / last, row.original[0][k], row.original[1][k],
                       row.original[2][k]);
      }
    }
  }
  for (int k = 0; k < n; ++k) {
    const float blue = static_cast<float>(k) / last;
    if (tr.colorSpace == kColorSpaceLab) {
      row.v[0][k] = row.original[0][k];
      row.v[1][k] = row.original[1][k];
      row.v[2][k] = row.original[2][k];
    } else if (tr.colorSpace == kColorSpaceYuv) {
      rgbToYuv(red, green, blue, row.v[0][k], row.v[1][k], row.v[2][k]);
    } else {
      row.v[0][k] = red;
      row.v[1][k] = green;
      row.v[2][k] = blue;
    }
  }
  float scale[3], ms[3], mr[3];
  for (int ch = 0; ch < 3; ++ch) {
    ms[ch] = tr.source.mean[ch];
    scale[ch] = tr.reference.deviation[ch];
    mr[ch] = tr.reference.mean[ch];
  }
  const float ds0 = tr.source.deviation[0], ds1 = tr.source.deviation[1], ds2 = tr.source.deviation[2];
  if (tr.colorSpace == kColorSpaceLab) {
    for (int k = 0; k < n; ++k) {
      const float t0 = (row.v[0][k] - ms[0]) / ds0 * scale[0] + mr[0];
      const float t1 = (row.v[1][k] - ms[1]) / ds1 * scale[1] + mr[1];
      const float t2 = (row.v[2][k] - ms[2]) / ds2 * scale[2] + mr[2];
      float r, g, b;
      labToRgbKernel(clampPick(t0, 0.0f, 255.0f), clampPick(t1, 0.0f, 255.0f), clampPick(t2, 0.0f, 255.0f), r, g,
                     b);
      row.m[0][k] = clampPick(r, 0.0f, 1.0f);
      row.m[1][k] = clampPick(g, 0.0f, 1.0f);
      row.m[2][k] = clampPick(b, 0.0f, 1.0f);
    }
  } else {
    for (int k = 0; k < n; ++k) {
      const float t0 = (row.v[0][k] - ms[0]) / ds0 * scale[0] + mr[0];
      const float t1 = (row.v[1][k] - ms[1]) / ds1 * scale[1] + mr[1];
      const float t2 = (row.v[2][k] - ms[2]) / ds2 * scale[2] + mr[2];
      float r = t0, g = t1, b = t2;
      if (tr.colorSpace == kColorSpaceYuv) {
        yuvToRgb(clampColor(t0, 0.0f, 1.0f), t1, t2, r, g, b);
      }
      row.m[0][k] = clampColor(r, 0.0f, 1.0f);
      row.m[1][k] = clampColor(g, 0.0f, 1.0f);
      row.m[2][k] = clampColor(b, 0.0f, 1.0f);
    }
  }
  if (tr.preserveMode == kPreserveBrightness) {
    // Lightness of the grid colour, a and b of the match.
    for (int k = 0; k < n; ++k) {
      float l, a, b;
      rgbToLabKernel(row.m[0][k], row.m[1][k], row.m[2][k], l, a, b);
      labToRgbKernel(row.original[0][k], a, b, row.out[0][k], row.out[1][k], row.out[2][k]);
    }
  } else if (tr.preserveMode == kPreserveColors) {
    // Lightness of the match, a and b of the grid colour.
    for (int k = 0; k < n; ++k) {
      const float l = labLightnessKernel(row.m[0][k], row.m[1][k], row.m[2][k]);
      labToRgbKernel(l, row.original[1][k], row.original[2][k], row.out[0][k], row.out[1][k], row.out[2][k]);
    }
  } else {
    for (int ch = 0; ch < 3; ++ch) {
      for (int k = 0; k < n; ++k) {
        row.out[ch][k] = row.m[ch][k];
      }
    }
  }
}

void fillTransfer(const Transfer &tr, MatchLut &lut) {
  const int n = lut.size;
  const bool needLab = tr.colorSpace == kColorSpaceLab || tr.preserveMode == kPreserveBrightness ||
                       tr.preserveMode == kPreserveColors;
  const float *labTable = needLab ? gridLabValues(n) : nullptr;
  Row row;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const int64_t offset = MatchLut::entryOffset(n, i, j, 0);
      transferRow(tr, i, j, n, labTable != nullptr ? labTable + offset : nullptr, row);
      float *out = lut.data + offset;
      for (int k = 0; k < n; ++k) {
        out[k * 3] = row.out[0][k];
        out[k * 3 + 1] = row.out[1][k];
        out[k * 3 + 2] = row.out[2][k];
      }
    }
  }
}

// Replaces every cell at least r from each face by the mean of the
// (2r + 1)^3 cells around it; the outer r layers keep their values.
void smoothInterior(MatchLut &lut, int r) {
  const int n = lut.size;
  if (r <= 0 || n <= 2 * r) {
    return;
  }
  const int64_t values = static_cast<int64_t>(n) * n * n * 3;
  double *cells = allocateScratch(static_cast<size_t>(values) + boxSumScratchCount(n));
  if (cells == nullptr) {
    debugLog("Tintbridge: not enough memory to smooth the LUT, left unsmoothed\n");
    return;
  }
  boxMeanInterior(lut.data, lut.data, n, r, cells, cells + values);
  freeScratch(cells);
}

}  // namespace

void buildDifferentClipsLut(const float *sourcePixels, int sourceWidth, int sourceHeight, int sourceRowBytes,
                            const float *referencePixels, int referenceWidth, int referenceHeight,
                            int referenceRowBytes, MatchLut &lut, float smoothing, ColorSpace colorSpace,
                            PreserveMode preserveMode, const MaskView *sourceMask, const MaskView *referenceMask) {
  if (lut.data == nullptr || lut.size < 2 || lut.size > 256) {
    return;  // no grid to fill
  }
  Transfer tr;
  tr.colorSpace = colorSpace;
  tr.preserveMode = preserveMode;
  computeClipStats(sourcePixels, sourceWidth, sourceHeight, sourceRowBytes, colorSpace, tr.source, sourceMask);
  computeClipStats(referencePixels, referenceWidth, referenceHeight, referenceRowBytes, colorSpace, tr.reference,
                   referenceMask);
  fillTransfer(tr, lut);
  smoothInterior(lut, smoothingRadius(smoothing, lut.size));
  lut.valid.store(true);
}
