// writeCdl: the fitted values as an ASC CDL XML file with one correction.
#include "export/CdlValues.h"
#include "export/ExportFile.h"

namespace {

inline double wide(float v) { return static_cast<double>(v); }

void writeCdlLines(ExportFile &file, const CdlValues &v) {
  exportPrint(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  exportPrint(file, "<ColorCorrectionCollection xmlns=\"urn:ASC:CDL:v1.01\">\n");
  exportPrint(file, "  <ColorCorrection id=\"Tintbridge\">\n");
  exportPrint(file, "    <SOPNode>\n");
  exportPrint(file, "      <Slope>%.6f %.6f %.6f</Slope>\n", wide(v.slope[0]), wide(v.slope[1]), wide(v.slope[2]));
  exportPrint(file, "      <Offset>%.6f %.6f %.6f</Offset>\n", wide(v.offset[0]), wide(v.offset[1]),
              wide(v.offset[2]));
  exportPrint(file, "      <Power>%.6f %.6f %.6f</Power>\n", wide(v.power[0]), wide(v.power[1]), wide(v.power[2]));
  exportPrint(file, "    </SOPNode>\n");
  exportPrint(file, "    <SatNode>\n");
  exportPrint(file, "      <Saturation>%.6f</Saturation>\n", wide(v.saturation));
  exportPrint(file, "    </SatNode>\n");
  exportPrint(file, "  </ColorCorrection>\n");
  exportPrint(file, "</ColorCorrectionCollection>\n");
}

}  // namespace

bool writeCdl(const char *path, const CdlValues &values) {
  ExportFile file;
  if (!openExportFile(path, file)) return false;
  writeCdlLines(file, values);
  return closeExportFile(file);
}
