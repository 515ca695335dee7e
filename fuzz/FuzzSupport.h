// Helpers shared by the fuzz targets: the bundle under test, a private scratch
// folder, images built from fuzz bytes, and the invariant checks that turn a
// wrong result into a crash that libFuzzer reports and saves.
#ifndef TINTBRIDGE_FUZZ_SUPPORT_H
#define TINTBRIDGE_FUZZ_SUPPORT_H

#include <dirent.h>
#include <dlfcn.h>
#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "host/Host.h"
#include "host/Image.h"

namespace fuzzsupport {

// Reports a broken invariant and stops. The summary goes to the sanitizer's
// report channel, which stays visible when libFuzzer silences the target's
// standard error (-close_fd_mask=2).
[[noreturn]] inline void fail(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "tintbridge invariant broken: %s\n", text);
  std::string summary = std::string("tintbridge invariant broken: ") + text;
  __sanitizer_report_error_summary(summary.c_str());
  std::abort();
}

#define FUZZ_CHECK(cond, ...)                       \
  do {                                              \
    if (!(cond)) ::fuzzsupport::fail(__VA_ARGS__);  \
  } while (0)

// The module's path. The first call also loads it for good: libFuzzer keeps
// the module's coverage counters, so the module must stay mapped while hosts
// come and go.
inline const char *bundleBinary() {
  static void *const kept = dlopen(TINTBRIDGE_BUNDLE_BINARY, RTLD_NOW | RTLD_NODELETE);
  if (kept == nullptr) fail("cannot load %s: %s", TINTBRIDGE_BUNDLE_BINARY, dlerror());
  return TINTBRIDGE_BUNDLE_BINARY;
}

// The scratch folder to remove when the fuzzer finishes its runs; kept
// apart from scratchFolder()'s string, which is gone by then.
inline std::string *&scratchToRemove() {
  static std::string *path = nullptr;
  return path;
}

inline void removeScratchFolder() {
  std::error_code ec;
  if (scratchToRemove() != nullptr) std::filesystem::remove_all(*scratchToRemove(), ec);
}

// A scratch folder of this process, made once and removed at exit; HOME
// points into it so that the default export folder (the documents folder)
// lies inside it too.
inline const std::string &scratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/tintbridge-fuzz-XXXXXX";
    const char *made = mkdtemp(pattern);
    if (made == nullptr) fail("cannot create a scratch folder");
    char canonical[4096];
    std::string f = ::realpath(made, canonical) ? canonical : made;
    ::mkdir((f + "/home").c_str(), 0700);
    ::mkdir((f + "/home/Documents").c_str(), 0700);
    ::setenv("HOME", (f + "/home").c_str(), 1);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    ::unsetenv("XDG_CONFIG_HOME");
    scratchToRemove() = new std::string(f);
    std::atexit(removeScratchFolder);
    return f;
  }();
  return folder;
}

inline bool isDirectory(const std::string &path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Every regular file below `folder` (not following links), relative names.
inline void listFiles(const std::string &folder, const std::string &prefix, std::vector<std::string> &out) {
  DIR *dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      listFiles(path, prefix + name + "/", out);
    } else if (S_ISREG(info.st_mode)) {
      out.push_back(prefix + name);
    }
  }
  ::closedir(dir);
}

// Removes everything below `folder` except the names in `keep`.
inline void emptyFolder(const std::string &folder, const std::vector<std::string> &keep) {
  DIR *dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool kept = false;
    for (const std::string &k : keep) kept = kept || k == name;
    if (!kept) names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string &name : names) {
    const std::string path = folder + "/" + name;
    if (isDirectory(path)) {
      emptyFolder(path, {});
      ::rmdir(path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
}

inline bool readFile(const std::string &path, std::string &text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

// A complete .cube file as the plug-in writes it: the header, then
// size^3 lines of three numbers within [0, 1]. Empty when it is one.
inline std::string cubeProblem(const std::string &text) {
  if (text.compare(0, 6, "TITLE ") != 0) return "no TITLE line";
  const size_t sizeAt = text.find("\nLUT_3D_SIZE ");
  if (sizeAt == std::string::npos) return "no LUT_3D_SIZE line";
  const int n = std::atoi(text.c_str() + sizeAt + 13);
  if (n < 2 || n > 256) return "bad LUT_3D_SIZE";
  std::istringstream body(text.substr(text.find('\n', sizeAt + 1) + 1));
  long lines = 0;
  std::string line;
  while (std::getline(body, line)) {
    if (line.empty()) continue;
    double v[3];
    char extra = 0;
    if (std::sscanf(line.c_str(), "%lf %lf %lf %c", &v[0], &v[1], &v[2], &extra) != 3) return "bad entry line";
    for (double x : v)
      if (!(x >= 0.0 && x <= 1.0)) return "entry outside [0, 1]";
    ++lines;
  }
  if (lines != static_cast<long>(n) * n * n) return "wrong number of entries";
  if (text.back() != '\n') return "unterminated last line";
  return std::string();
}

inline std::string cdlProblem(const std::string &text) {
  static const char *const kParts[] = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
                                       "<ColorCorrectionCollection xmlns=\"urn:ASC:CDL:v1.01\">",
                                       "<Slope>", "</Slope>", "<Offset>", "</Offset>", "<Power>", "</Power>",
                                       "<Saturation>", "</Saturation>", "</ColorCorrectionCollection>\n"};
  size_t at = 0;
  for (const char *part : kParts) {
    at = text.find(part, at);
    if (at == std::string::npos) return std::string("missing ") + part;
  }
  if (at + std::strlen("</ColorCorrectionCollection>\n") != text.size()) return "text after the end";
  if (text.find("nan") != std::string::npos || text.find("inf") != std::string::npos) return "non-finite value";
  return std::string();
}

// A complete export of either kind, judged by its content.
inline std::string exportProblem(const std::string &text) {
  if (text.compare(0, 6, "TITLE ") == 0) return cubeProblem(text);
  if (text.compare(0, 5, "<?xml") == 0) return cdlProblem(text);
  return "neither a .cube nor a .cdl file";
}

// ---- Images ----

inline float specialFloat(FuzzedDataProvider &fdp) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return -std::numeric_limits<float>::infinity();
    case 3: return std::numeric_limits<float>::denorm_min();
    case 4: return -std::numeric_limits<float>::denorm_min();
    case 5: return std::numeric_limits<float>::max();
    case 6: return -std::numeric_limits<float>::max();
    case 7: return 1e30f;
    case 8: return -0.0f;
    case 9: return 1.0f;
    case 10: return 1.5f;
    case 11: return -0.2f;
    case 12: {
      const uint32_t bits = fdp.ConsumeIntegral<uint32_t>();
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    default: return fdp.ConsumeProbability<float>();  // within [0, 1]
  }
}

inline double specialDouble(FuzzedDataProvider &fdp) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 12)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return std::numeric_limits<double>::denorm_min();
    case 4: return 1e300;
    case 5: return -1.0;
    case 6: return 0.0;
    case 7: return 2.0;
    case 8: return 1.0;
    case 9: return fdp.ConsumeFloatingPoint<double>();
    default: return fdp.ConsumeProbability<double>();
  }
}

inline int specialInt(FuzzedDataProvider &fdp) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return -1;
    case 1: return 2;
    case 2: return 3;
    case 3: return std::numeric_limits<int>::min();
    case 4: return std::numeric_limits<int>::max();
    case 5: return fdp.ConsumeIntegral<int>();
    case 6: case 7: return 1;
    default: return 0;
  }
}

// Fills every pixel of an image from the fuzz bytes: float channels from the
// list of awkward values, byte and short channels from raw bytes.
inline void fillFromFuzz(tbhost::Image &image, FuzzedDataProvider &fdp) {
  const OfxRectI b = image.bounds();
  const int channels = tbhost::componentCount(image.components());
  const bool uniform = fdp.ConsumeBool();
  float first[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  for (int y = b.y1; y < b.y2 && image.data() != nullptr; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      unsigned char *p = image.pixelAddress(x, y);
      for (int c = 0; c < channels; ++c) {
        switch (image.depth()) {
          case tbhost::PixelDepth::Float: {
            float v;
            if (uniform && !(x == b.x1 && y == b.y1)) {
              v = first[c];
            } else {
              v = fdp.ConsumeBool() ? fdp.ConsumeProbability<float>() : specialFloat(fdp);
              first[c] = v;
            }
            std::memcpy(p + 4 * c, &v, 4);
            break;
          }
          case tbhost::PixelDepth::Short: {
            const uint16_t v = fdp.ConsumeIntegral<uint16_t>();
            std::memcpy(p + 2 * c, &v, 2);
            break;
          }
          case tbhost::PixelDepth::Byte:
            p[c] = fdp.ConsumeIntegral<uint8_t>();
            break;
        }
      }
    }
  }
}

inline std::shared_ptr<tbhost::Image> imageFromFuzz(FuzzedDataProvider &fdp, int maxSide) {
  static const tbhost::PixelDepth kDepths[] = {tbhost::PixelDepth::Float, tbhost::PixelDepth::Float,
                                               tbhost::PixelDepth::Short, tbhost::PixelDepth::Byte};
  static const tbhost::Components kComponents[] = {tbhost::Components::RGBA, tbhost::Components::RGBA,
                                                   tbhost::Components::RGB, tbhost::Components::Alpha};
  const tbhost::PixelDepth depth = kDepths[fdp.ConsumeIntegralInRange<int>(0, 3)];
  const tbhost::Components components = kComponents[fdp.ConsumeIntegralInRange<int>(0, 3)];
  OfxRectI bounds;
  bounds.x1 = fdp.ConsumeIntegralInRange<int>(-6, 6);
  bounds.y1 = fdp.ConsumeIntegralInRange<int>(-6, 6);
  bounds.x2 = bounds.x1 + fdp.ConsumeIntegralInRange<int>(-1, maxSide);
  bounds.y2 = bounds.y1 + fdp.ConsumeIntegralInRange<int>(-1, maxSide);
  tbhost::ImageLayout layout;
  // Any padding that keeps rows aligned to the component size, as a host
  // must: odd row bytes for byte images.
  layout.rowPadding = fdp.ConsumeIntegralInRange<int>(0, 5) * tbhost::bytesPerComponent(depth);
  layout.negativeRowBytes = fdp.ConsumeBool();
  std::shared_ptr<tbhost::Image> image = tbhost::Image::create(depth, components, bounds, layout);
  fillFromFuzz(*image, fdp);
  return image;
}

// The bytes of every pixel, row by row, for comparisons.
inline std::vector<unsigned char> pixelBytes(const tbhost::Image &image) {
  std::vector<unsigned char> bytes;
  if (image.data() == nullptr) return bytes;
  const OfxRectI b = image.bounds();
  const size_t row = static_cast<size_t>(image.width()) * image.bytesPerPixel();
  for (int y = b.y1; y < b.y2; ++y) {
    const unsigned char *p = image.pixelAddress(b.x1, y);
    bytes.insert(bytes.end(), p, p + row);
  }
  return bytes;
}

inline bool inUnit(float v) { return v >= 0.0f && v <= 1.0f; }

inline float clampUnit(float v) {
  const float t = (v < 1.0f) ? v : 1.0f;
  return (t > 0.0f) ? t : 0.0f;
}

inline bool sameFloat(float a, float b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0 || a == b;
}

}  // namespace fuzzsupport

#endif
