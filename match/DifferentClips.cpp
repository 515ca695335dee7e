// "Different Clips": moves the Source's per-channel mean and deviation onto
// the Reference's in a working colour space, for every grid colour, then
// box-smooths the interior of the grid.
#include <cstdint>

#include "match/BoxSmooth.h"
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

// The matched colour of grid colour c, whose scaled Lab is `lab` when known.
void transferCell(const Transfer &tr, const float c[3], const float *lab, float out[3]) {
  float v[3];
  if (tr.colorSpace == kColorSpaceLab) {
    if (lab != nullptr) {
      v[0] = lab[0];
      v[1] = lab[1];
      v[2] = lab[2];
    } else {
      rgbToLab(c[0], c[1], c[2], v[0], v[1], v[2]);
    }
  } else if (tr.colorSpace == kColorSpaceYuv) {
    rgbToYuv(c[0], c[1], c[2], v[0], v[1], v[2]);
  } else {
    v[0] = c[0];
    v[1] = c[1];
    v[2] = c[2];
  }
  float t[3];
  for (int ch = 0; ch < 3; ++ch) {
    t[ch] = (v[ch] - tr.source.mean[ch]) / tr.source.deviation[ch] * tr.reference.deviation[ch] +
            tr.reference.mean[ch];
  }
  float m[3];
  if (tr.colorSpace == kColorSpaceLab) {
    labToRgb(clampColor(t[0], 0.0f, 255.0f), clampColor(t[1], 0.0f, 255.0f), clampColor(t[2], 0.0f, 255.0f), m[0],
             m[1], m[2]);
  } else if (tr.colorSpace == kColorSpaceYuv) {
    yuvToRgb(clampColor(t[0], 0.0f, 1.0f), t[1], t[2], m[0], m[1], m[2]);
  } else {
    m[0] = t[0];
    m[1] = t[1];
    m[2] = t[2];
  }
  for (int ch = 0; ch < 3; ++ch) {
    m[ch] = clampColor(m[ch], 0.0f, 1.0f);
  }
  if (tr.preserveMode == kPreserveBrightness || tr.preserveMode == kPreserveColors) {
    if (lab != nullptr) {
      recombinePreserveLab(tr.preserveMode, lab, m, out);
    } else {
      recombinePreserve(tr.preserveMode, c, m, out);
    }
  } else {
    out[0] = m[0];
    out[1] = m[1];
    out[2] = m[2];
  }
}

void fillTransfer(const Transfer &tr, MatchLut &lut) {
  const int n = lut.size;
  const float last = static_cast<float>(n - 1);
  const bool needLab = tr.colorSpace == kColorSpaceLab || tr.preserveMode == kPreserveBrightness ||
                       tr.preserveMode == kPreserveColors;
  const float *labTable = needLab ? gridLabValues(n) : nullptr;
  float *out = lut.data;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) {
        const float c[3] = {static_cast<float>(i) / last, static_cast<float>(j) / last, static_cast<float>(k) / last};
        const int64_t offset = MatchLut::entryOffset(n, i, j, k);
        transferCell(tr, c, labTable != nullptr ? labTable + offset : nullptr, out + offset);
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
  for (int64_t v = 0; v < values; ++v) {
    cells[v] = static_cast<double>(lut.data[v]);
  }
  boxSumCut(cells, n, 3, r, cells + values);
  const double side = 2.0 * r + 1.0;
  const double volume = side * side * side;
  for (int i = r; i < n - r; ++i) {
    for (int j = r; j < n - r; ++j) {
      for (int k = r; k < n - r; ++k) {
        const int64_t offset = MatchLut::entryOffset(n, i, j, k);
        for (int ch = 0; ch < 3; ++ch) {
          lut.data[offset + ch] = static_cast<float>(cells[offset + ch] / volume);
        }
      }
    }
  }
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
