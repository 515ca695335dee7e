// MatchLut::writeCube: the grid as a .cube 3D LUT, with the mix and the
// per-channel strengths baked in.
#include <cstdint>

#include "export/ExportFile.h"
#include "lut/Clamp.h"
#include "lut/MatchLut.h"
#include "lut/Mix.h"

namespace {

bool writeCubeLines(ExportFile &file, const MatchLut &lut, float mix, float strengthR, float strengthG,
                    float strengthB) {
  const int n = lut.size;
  const float *grid = lut.data;
  const int m = n / 2;
  const float *first = grid;
  const float *mid = grid + MatchLut::entryOffset(n, m, m, m);
  const float *last = grid + MatchLut::entryOffset(n, n - 1, n - 1, n - 1);

  const float s[3] = {mixStrength(strengthR, mix), mixStrength(strengthG, mix), mixStrength(strengthB, mix)};
  const float keep[3] = {1.0f - s[0], 1.0f - s[1], 1.0f - s[2]};
  const float d = static_cast<float>(n - 1);

  exportPrint(file, "TITLE \"Tintbridge LUT\"\n");
  exportPrint(file, "# Baked strength: Mix=%.4f, R=%.4f, G=%.4f, B=%.4f\n", static_cast<double>(mix),
              static_cast<double>(strengthR), static_cast<double>(strengthG), static_cast<double>(strengthB));
  exportPrint(file, "# Combined: sR=%.4f, sG=%.4f, sB=%.4f\n", static_cast<double>(s[0]), static_cast<double>(s[1]),
              static_cast<double>(s[2]));
  exportPrint(file, "# LUT size: %d, valid: %d\n", n, lut.valid.load() ? 1 : 0);
  exportPrint(file, "# Raw LUT[0,0,0]: %.4f %.4f %.4f\n", static_cast<double>(first[0]),
              static_cast<double>(first[1]), static_cast<double>(first[2]));
  exportPrint(file, "# Raw LUT[mid]: %.4f %.4f %.4f\n", static_cast<double>(mid[0]), static_cast<double>(mid[1]),
              static_cast<double>(mid[2]));
  exportPrint(file, "# Raw LUT[1,1,1]: %.4f %.4f %.4f\n", static_cast<double>(last[0]),
              static_cast<double>(last[1]), static_cast<double>(last[2]));
  if (!exportPrint(file, "LUT_3D_SIZE %d\n\n", n)) return false;

  // .cube order: red fastest, blue slowest; the opposite of memory order.
  for (int b = 0; b < n; ++b) {
    const float tb = static_cast<float>(b) / d;
    for (int g = 0; g < n; ++g) {
      const float tg = static_cast<float>(g) / d;
      for (int r = 0; r < n; ++r) {
        const float tr = static_cast<float>(r) / d;
        const float *entry = grid + MatchLut::entryOffset(n, r, g, b);
        // Entries are written clamped: NaN and values above 1 become 1,
        // negatives and -0 become +0.
        const float vr = clampUnit(mixChannel(keep[0], s[0], tr, entry[0]));
        const float vg = clampUnit(mixChannel(keep[1], s[1], tg, entry[1]));
        const float vb = clampUnit(mixChannel(keep[2], s[2], tb, entry[2]));
        if (!exportPrint(file, "%.6f %.6f %.6f\n", static_cast<double>(vr), static_cast<double>(vg),
                         static_cast<double>(vb))) {
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

bool MatchLut::writeCube(const char *path, float mix, float strengthR, float strengthG, float strengthB) const {
  if (data == nullptr || size < 2) return false;
  ExportFile file;
  if (!openExportFile(path, file)) return false;
  writeCubeLines(file, *this, mix, strengthR, strengthG, strengthB);
  return closeExportFile(file);
}
