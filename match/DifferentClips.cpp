// "Different Clips": moves the Source's per-channel mean and deviation onto
// the Reference's in a working colour space, for every grid colour, then
// box-smooths the interior of the grid.
#include <cstdint>

#include "match/BoxSmooth.h"
#include "match/ColorMath.h"
#include "match/GridLab.h"
#include "match/LutBuilders.h"
#include "match/Scratch.h"

namespace {

struct Transfer {
  ClipStats source;
  ClipStats reference;
  ColorSpace colorSpace;
  PreserveMode preserveMode;
};

// Longest row of cells handled at once.
constexpr int kMaxRow = kMaxLutSize;

struct Row {
  float lab[3][kMaxRow];  // grid colours in scaled Lab, when not taken from the cache
  float m[3][kMaxRow];    // matched colours
};

// Transfers the n cells (i, j, 0 ... n - 1) into `out`, three floats a cell.
// `labRow` is the cached Lab of these grid colours, one plane of n values per
// channel, or null. Each step is a branch-free loop over the row, so that it
// runs as vector code.
void transferRow(const Transfer &tr, int i, int j, int n, const float *labRow, Row &row, float *out) {
  const float last = static_cast<float>(n - 1);
  const float red = static_cast<float>(i) / last;
  const float green = static_cast<float>(j) / last;
  const bool preserve = tr.preserveMode == kPreserveBrightness || tr.preserveMode == kPreserveColors;
  const float *lab[3] = {row.lab[0], row.lab[1], row.lab[2]};
  if (tr.colorSpace == kColorSpaceLab || preserve) {
    if (labRow != nullptr) {
      lab[0] = labRow;
      lab[1] = labRow + n;
      lab[2] = labRow + 2 * n;
    } else {
      for (int k = 0; k < n; ++k) {
        rgbToLabKernel(red, green, static_cast<float>(k) / last, row.lab[0][k], row.lab[1][k], row.lab[2][k]);
      }
    }
  }
  const float ms0 = tr.source.mean[0], ms1 = tr.source.mean[1], ms2 = tr.source.mean[2];
  const float ds0 = tr.source.deviation[0], ds1 = tr.source.deviation[1], ds2 = tr.source.deviation[2];
  const float dr0 = tr.reference.deviation[0], dr1 = tr.reference.deviation[1], dr2 = tr.reference.deviation[2];
  const float mr0 = tr.reference.mean[0], mr1 = tr.reference.mean[1], mr2 = tr.reference.mean[2];
  if (tr.colorSpace == kColorSpaceLab) {
    for (int k = 0; k < n; ++k) {
      const float t0 = (lab[0][k] - ms0) / ds0 * dr0 + mr0;
      const float t1 = (lab[1][k] - ms1) / ds1 * dr1 + mr1;
      const float t2 = (lab[2][k] - ms2) / ds2 * dr2 + mr2;
      float r, g, b;
      labToRgbKernel(clampPick(t0, 0.0f, 255.0f), clampPick(t1, 0.0f, 255.0f), clampPick(t2, 0.0f, 255.0f), r, g,
                     b);
      row.m[0][k] = clampPick(r, 0.0f, 1.0f);
      row.m[1][k] = clampPick(g, 0.0f, 1.0f);
      row.m[2][k] = clampPick(b, 0.0f, 1.0f);
    }
  } else {
    for (int k = 0; k < n; ++k) {
      const float blue = static_cast<float>(k) / last;
      float v0 = red, v1 = green, v2 = blue;
      if (tr.colorSpace == kColorSpaceYuv) {
        rgbToYuv(red, green, blue, v0, v1, v2);
      }
      const float t0 = (v0 - ms0) / ds0 * dr0 + mr0;
      const float t1 = (v1 - ms1) / ds1 * dr1 + mr1;
      const float t2 = (v2 - ms2) / ds2 * dr2 + mr2;
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
      labToRgbKernel(lab[0][k], a, b, row.m[0][k], row.m[1][k], row.m[2][k]);
    }
  } else if (tr.preserveMode == kPreserveColors) {
    // Lightness of the match, a and b of the grid colour.
    for (int k = 0; k < n; ++k) {
      const float l = labLightnessKernel(row.m[0][k], row.m[1][k], row.m[2][k]);
      labToRgbKernel(l, lab[1][k], lab[2][k], row.m[0][k], row.m[1][k], row.m[2][k]);
    }
  }
  for (int k = 0; k < n; ++k) {
    out[k * 3] = row.m[0][k];
    out[k * 3 + 1] = row.m[1][k];
    out[k * 3 + 2] = row.m[2][k];
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
      transferRow(tr, i, j, n, labTable != nullptr ? labTable + offset : nullptr, row, lut.data + offset);
    }
  }
}

// Replaces every cell at least r from each face by the mean of the
// (2r + 1)^3 cells around it; the outer r layers keep their values. False
// when the scratch memory could not be had (nothing is smoothed).
bool smoothInterior(MatchLut &lut, int r) {
  const int n = lut.size;
  if (r <= 0 || n <= 2 * r) {
    return true;
  }
  double *scratch = allocateScratch(boxMeanInteriorScratchCount(n, r));
  if (scratch == nullptr) {
    return false;
  }
  boxMeanInterior(lut.data, lut.data, n, r, scratch);
  freeScratch(scratch);
  return true;
}

}  // namespace

bool buildDifferentClipsLutFromStats(const ClipStats &source, const ClipStats &reference, MatchLut &lut,
                                     float smoothing, ColorSpace colorSpace, PreserveMode preserveMode) {
  if (lut.data == nullptr || lut.size < kMinLutSize || lut.size > kMaxLutSize) {
    return true;  // no grid to fill
  }
  Transfer tr;
  tr.colorSpace = colorSpace;
  tr.preserveMode = preserveMode;
  tr.source = source;
  tr.reference = reference;
  fillTransfer(tr, lut);
  const bool smoothed = smoothInterior(lut, smoothingRadius(smoothing, lut.size));
  lut.valid.store(true);
  return smoothed;
}

bool buildDifferentClipsLut(const ImageView &source, const ImageView &reference, MatchLut &lut, float smoothing,
                            ColorSpace colorSpace, PreserveMode preserveMode, const MaskView *sourceMask,
                            const MaskView *referenceMask) {
  if (lut.data == nullptr || lut.size < kMinLutSize || lut.size > kMaxLutSize) {
    return true;  // no grid to fill
  }
  ClipStats sourceStats, referenceStats;
  computeClipStats(source, colorSpace, sourceStats, sourceMask);
  computeClipStats(reference, colorSpace, referenceStats, referenceMask);
  return buildDifferentClipsLutFromStats(sourceStats, referenceStats, lut, smoothing, colorSpace, preserveMode);
}
