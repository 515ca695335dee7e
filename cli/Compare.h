// The comparison picture: panels side by side at one height, each with a
// small caption under it, on a dark background.
#ifndef TINTBRIDGE_CLI_COMPARE_H
#define TINTBRIDGE_CLI_COMPARE_H

#include <string>
#include <vector>

#include "cli/ImageFile.h"

namespace tbcli {

struct ComparePanel {
  PictureView pixels;
  int orientation = 1;  // as the file asks viewers to turn it; panels show upright
  std::string caption;
};

// Panels are scaled to one height so that the whole picture is at most
// `maxWidth` pixels wide (and panels at most 540 pixels high); transparent
// parts show the background. The result is opaque.
Picture makeComparison(const std::vector<ComparePanel> &panels, int maxWidth = 1800);

// Scales to width x height: averages the covered pixels when shrinking,
// repeats pixels when enlarging.
Picture resizePicture(const PictureView &picture, int width, int height);

// Draws upper-case text with the built-in 5 x 7 font, `scale` pixels a dot,
// top left at (x, y); cut at the picture's edges. Letters are drawn as upper
// case; characters without a glyph as '?'.
void drawText(Picture &picture, int x, int y, const std::string &text, int scale, const float colour[3]);
int textWidth(const std::string &text, int scale);

}  // namespace tbcli

#endif
