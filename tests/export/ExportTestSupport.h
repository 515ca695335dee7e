// Helpers shared by the export tests: scratch folders, file reading and LUTs
// filled from a function.
#ifndef TINTBRIDGE_TESTS_EXPORT_SUPPORT_H
#define TINTBRIDGE_TESTS_EXPORT_SUPPORT_H

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lut/MatchLut.h"
#include "support/ScratchFolder.h"

namespace exporttest {

// A scratch folder of the export tests.
using TempDir = ScratchFolder;

inline bool fileExists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Lines without their line feeds; a final line feed ends the last line.
inline std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Fills an n-point grid with f(r, g, b, out) for grid indices and marks it valid.
template <typename F>
void fillLut(MatchLut &lut, int n, F f) {
  ASSERT_TRUE(lut.allocate(n));
  for (int r = 0; r < n; ++r) {
    for (int g = 0; g < n; ++g) {
      for (int b = 0; b < n; ++b) f(r, g, b, lut.data + MatchLut::entryOffset(n, r, g, b));
    }
  }
  lut.valid = true;
}

// Every grid point holds its own normalised coordinates.
inline void fillIdentity(MatchLut &lut, int n) {
  const float d = static_cast<float>(n - 1);
  fillLut(lut, n, [d](int r, int g, int b, float *out) {
    out[0] = static_cast<float>(r) / d;
    out[1] = static_cast<float>(g) / d;
    out[2] = static_cast<float>(b) / d;
  });
}

// A smooth, clearly non-identity colour change that stays inside (0, 1).
inline void fillGrade(MatchLut &lut, int n) {
  const float d = static_cast<float>(n - 1);
  fillLut(lut, n, [d](int r, int g, int b, float *out) {
    const float x = static_cast<float>(r) / d, y = static_cast<float>(g) / d, z = static_cast<float>(b) / d;
    out[0] = 0.05f + 0.8f * x * x + 0.1f * z;
    out[1] = 0.1f + 0.6f * y + 0.2f * x * z;
    out[2] = 0.9f - 0.7f * z + 0.05f * std::sin(6.0f * y);
  });
}

}  // namespace exporttest

#endif
