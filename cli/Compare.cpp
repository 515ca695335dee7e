#include "cli/Compare.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace tbcli {

namespace {

struct Glyph {
  char c;
  const char *rows[7];
};

// A 5 x 7 font for captions: file names, modes and numbers.
const Glyph kGlyphs[] = {
    {'A', {".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"}},
    {'B', {"XXXX.", "X...X", "X...X", "XXXX.", "X...X", "X...X", "XXXX."}},
    {'C', {".XXX.", "X...X", "X....", "X....", "X....", "X...X", ".XXX."}},
    {'D', {"XXXX.", "X...X", "X...X", "X...X", "X...X", "X...X", "XXXX."}},
    {'E', {"XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"}},
    {'F', {"XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "X...."}},
    {'G', {".XXX.", "X...X", "X....", "X.XXX", "X...X", "X...X", ".XXXX"}},
    {'H', {"X...X", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"}},
    {'I', {".XXX.", "..X..", "..X..", "..X..", "..X..", "..X..", ".XXX."}},
    {'J', {"..XXX", "...X.", "...X.", "...X.", "...X.", "X..X.", ".XX.."}},
    {'K', {"X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"}},
    {'L', {"X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"}},
    {'M', {"X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"}},
    {'N', {"X...X", "X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X"}},
    {'O', {".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."}},
    {'P', {"XXXX.", "X...X", "X...X", "XXXX.", "X....", "X....", "X...."}},
    {'Q', {".XXX.", "X...X", "X...X", "X...X", "X.X.X", "X..X.", ".XX.X"}},
    {'R', {"XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"}},
    {'S', {".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."}},
    {'T', {"XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."}},
    {'U', {"X...X", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."}},
    {'V', {"X...X", "X...X", "X...X", "X...X", "X...X", ".X.X.", "..X.."}},
    {'W', {"X...X", "X...X", "X...X", "X.X.X", "X.X.X", "X.X.X", ".X.X."}},
    {'X', {"X...X", "X...X", ".X.X.", "..X..", ".X.X.", "X...X", "X...X"}},
    {'Y', {"X...X", "X...X", ".X.X.", "..X..", "..X..", "..X..", "..X.."}},
    {'Z', {"XXXXX", "....X", "...X.", "..X..", ".X...", "X....", "XXXXX"}},
    {'0', {".XXX.", "X...X", "X..XX", "X.X.X", "XX..X", "X...X", ".XXX."}},
    {'1', {"..X..", ".XX..", "..X..", "..X..", "..X..", "..X..", ".XXX."}},
    {'2', {".XXX.", "X...X", "....X", "...X.", "..X..", ".X...", "XXXXX"}},
    {'3', {"XXXXX", "...X.", "..X..", "...X.", "....X", "X...X", ".XXX."}},
    {'4', {"...X.", "..XX.", ".X.X.", "X..X.", "XXXXX", "...X.", "...X."}},
    {'5', {"XXXXX", "X....", "XXXX.", "....X", "....X", "X...X", ".XXX."}},
    {'6', {"..XX.", ".X...", "X....", "XXXX.", "X...X", "X...X", ".XXX."}},
    {'7', {"XXXXX", "....X", "...X.", "..X..", ".X...", ".X...", ".X..."}},
    {'8', {".XXX.", "X...X", "X...X", ".XXX.", "X...X", "X...X", ".XXX."}},
    {'9', {".XXX.", "X...X", "X...X", ".XXXX", "....X", "...X.", ".XX.."}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".XX..", ".XX.."}},
    {',', {".....", ".....", ".....", ".....", ".XX..", "..X..", ".X..."}},
    {':', {".....", ".XX..", ".XX..", ".....", ".XX..", ".XX..", "....."}},
    {'-', {".....", ".....", ".....", "XXXXX", ".....", ".....", "....."}},
    {'_', {".....", ".....", ".....", ".....", ".....", ".....", "XXXXX"}},
    {'+', {".....", "..X..", "..X..", "XXXXX", "..X..", "..X..", "....."}},
    {'=', {".....", ".....", "XXXXX", ".....", "XXXXX", ".....", "....."}},
    {'/', {".....", "....X", "...X.", "..X..", ".X...", "X....", "....."}},
    {'(', {"...X.", "..X..", ".X...", ".X...", ".X...", "..X..", "...X."}},
    {')', {".X...", "..X..", "...X.", "...X.", "...X.", "..X..", ".X..."}},
    {'#', {".X.X.", ".X.X.", "XXXXX", ".X.X.", "XXXXX", ".X.X.", ".X.X."}},
    {'%', {"XX...", "XX..X", "...X.", "..X..", ".X...", "X..XX", "...XX"}},
    {'\'', {"..X..", "..X..", ".X...", ".....", ".....", ".....", "....."}},
    {'?', {".XXX.", "X...X", "....X", "...X.", "..X..", ".....", "..X.."}},
};

const Glyph &glyphFor(char c) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Glyph &g : kGlyphs)
    if (g.c == upper) return g;
  for (const Glyph &g : kGlyphs)
    if (g.c == '?') return g;
  return kGlyphs[0];
}

constexpr int kGlyphAdvance = 6;  // five dots and a gap
constexpr int kTextScale = 2;
constexpr int kGap = 8;
constexpr int kCaptionHeight = 7 * kTextScale + 12;
constexpr int kMaxPanelHeight = 540;
const float kBackground[3] = {0.09f, 0.09f, 0.10f};
const float kTextColour[3] = {0.88f, 0.88f, 0.86f};

// The caption cut to `width` pixels, with "..." when it had to be cut.
std::string fitCaption(const std::string &text, int width) {
  if (textWidth(text, kTextScale) <= width) return text;
  std::string cut = text;
  while (!cut.empty() && textWidth(cut + "...", kTextScale) > width) cut.pop_back();
  return cut.empty() ? std::string() : cut + "...";
}

}  // namespace

int textWidth(const std::string &text, int scale) {
  return text.empty() ? 0 : (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

void drawText(Picture &picture, int x, int y, const std::string &text, int scale, const float colour[3]) {
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph &g = glyphFor(text[i]);
    const int gx = x + static_cast<int>(i) * kGlyphAdvance * scale;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col) {
        if (g.rows[row][col] != 'X') continue;
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx) {
            const int px = gx + col * scale + dx, py = y + row * scale + dy;
            if (px < 0 || py < 0 || px >= picture.width || py >= picture.height) continue;
            float *p = picture.pixel(px, py);
            p[0] = colour[0];
            p[1] = colour[1];
            p[2] = colour[2];
            p[3] = 1.0f;
          }
      }
  }
}

Picture resizePicture(const PictureView &picture, int width, int height) {
  Picture out = makePicture(width, height, true);
  if (picture.width <= 0 || picture.height <= 0) return out;
  const double sx = static_cast<double>(picture.width) / width;
  const double sy = static_cast<double>(picture.height) / height;
  for (int y = 0; y < height; ++y) {
    int y0 = static_cast<int>(std::floor(y * sy));
    int y1 = std::max(y0 + 1, static_cast<int>(std::ceil((y + 1) * sy)));
    y0 = std::min(y0, picture.height - 1);
    y1 = std::min(y1, picture.height);
    for (int x = 0; x < width; ++x) {
      int x0 = static_cast<int>(std::floor(x * sx));
      int x1 = std::max(x0 + 1, static_cast<int>(std::ceil((x + 1) * sx)));
      x0 = std::min(x0, picture.width - 1);
      x1 = std::min(x1, picture.width);
      double sum[4] = {0, 0, 0, 0};
      for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx) {
          const float *p = picture.pixel(xx, yy);
          for (int c = 0; c < 4; ++c) sum[c] += p[c];
        }
      const double n = static_cast<double>(x1 - x0) * (y1 - y0);
      float *q = out.pixel(x, y);
      for (int c = 0; c < 4; ++c) q[c] = static_cast<float>(sum[c] / n);
    }
  }
  return out;
}

namespace {

// Orientations 5 to 8 turn a picture on its side.
bool turnsOnSide(int orientation) { return orientation >= 5 && orientation <= 8; }
int shownWidth(const ComparePanel &p) { return turnsOnSide(p.orientation) ? p.pixels.height : p.pixels.width; }
int shownHeight(const ComparePanel &p) { return turnsOnSide(p.orientation) ? p.pixels.width : p.pixels.height; }

// A panel scaled to width x height as it shows, upright. Scaled first, so
// that only the small picture is turned.
Picture scaledUpright(const ComparePanel &p, int width, int height) {
  const bool side = turnsOnSide(p.orientation);
  Picture scaled = resizePicture(p.pixels, side ? height : width, side ? width : height);
  scaled.orientation = p.orientation;
  return uprightPicture(scaled);
}

}  // namespace

Picture makeComparison(const std::vector<ComparePanel> &panels, int maxWidth) {
  // One height for every panel: the tallest source, no taller than the limit,
  // then lowered until the row of panels fits the width.
  int height = 1;
  for (const ComparePanel &p : panels) height = std::max(height, shownHeight(p));
  height = std::min(height, kMaxPanelHeight);
  auto widthAt = [&](int h, std::vector<int> *widths) {
    int total = kGap;
    for (const ComparePanel &p : panels) {
      const int w = std::max(1, static_cast<int>(std::lround(static_cast<double>(shownWidth(p)) * h /
                                                             std::max(1, shownHeight(p)))));
      if (widths) widths->push_back(w);
      total += w + kGap;
    }
    return total;
  };
  if (widthAt(height, nullptr) > maxWidth) {
    double aspect = 0;
    for (const ComparePanel &p : panels)
      aspect += static_cast<double>(shownWidth(p)) / std::max(1, shownHeight(p));
    const int room = maxWidth - kGap * (static_cast<int>(panels.size()) + 1);
    height = std::max(1, static_cast<int>(room / std::max(aspect, 1e-9)));
    while (height > 1 && widthAt(height, nullptr) > maxWidth) --height;
  }
  std::vector<int> widths;
  int totalWidth = widthAt(height, &widths);
  // Panels so wide that one row of pixels is still too wide share the room
  // by their widths, squeezed: the picture never exceeds `maxWidth`.
  if (totalWidth > maxWidth) {
    const int room = std::max(static_cast<int>(panels.size()), maxWidth - kGap * (static_cast<int>(panels.size()) + 1));
    long long wanted = 0;
    for (int w : widths) wanted += w;
    totalWidth = kGap;
    for (int &w : widths) {
      w = std::max(1, static_cast<int>(static_cast<long long>(w) * room / std::max(1LL, wanted)));
      totalWidth += w + kGap;
    }
    // The narrow panels' one pixel each may still tip it over.
    while (totalWidth > maxWidth) {
      int &widest = *std::max_element(widths.begin(), widths.end());
      if (widest <= 1) break;
      --widest;
      --totalWidth;
    }
  }

  Picture out = makePicture(totalWidth, kGap + height + kCaptionHeight, false);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) std::memcpy(out.pixel(x, y), kBackground, sizeof kBackground);

  int left = kGap;
  for (size_t i = 0; i < panels.size(); ++i) {
    const Picture scaled = scaledUpright(panels[i], widths[i], height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < widths[i]; ++x) {
        const float *p = scaled.pixel(x, y);
        float *q = out.pixel(left + x, kGap + y);
        const float a = std::min(1.0f, std::max(0.0f, p[3]));
        for (int c = 0; c < 3; ++c) q[c] = p[c] * a + kBackground[c] * (1.0f - a);
      }
    const std::string caption = fitCaption(panels[i].caption, widths[i]);
    drawText(out, left, kGap + height + (kCaptionHeight - 7 * kTextScale) / 2, caption, kTextScale, kTextColour);
    left += widths[i] + kGap;
  }
  return out;
}

}  // namespace tbcli
