// Helpers of every fuzz target that need only the standard library and
// POSIX: invariant failures, a private scratch folder removed at exit, folder
// snapshots, checks of the two export formats and awkward values drawn from
// fuzz bytes.
#ifndef TINTBRIDGE_FUZZ_BASICS_H
#define TINTBRIDGE_FUZZ_BASICS_H

#include <dirent.h>
#include <errno.h>
#include <signal.h>
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
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

namespace fuzzsupport {

inline bool readFile(const std::string &path, std::string &text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
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

// Every entry below `folder`, links not followed, by relative name: "file "
// and the content for regular files, "link " and the target for links,
// "folder" for folders, "other" for anything else.
inline void snapshotFolder(const std::string &folder, const std::string &prefix,
                           std::map<std::string, std::string> &out) {
  DIR *dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      out[prefix + name] = "folder";
      snapshotFolder(path, prefix + name + "/", out);
    } else if (S_ISLNK(info.st_mode)) {
      char target[4096];
      const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
      out[prefix + name] = "link " + std::string(target, length > 0 ? static_cast<size_t>(length) : 0);
    } else if (S_ISREG(info.st_mode)) {
      std::string text;
      readFile(path, text);
      out[prefix + name] = "file " + text;
    } else {
      out[prefix + name] = "other";
    }
  }
  ::closedir(dir);
}

// Removes everything below `folder` except the names in `keep`. Links are
// removed, never followed.
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
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      emptyFolder(path, {});
      ::rmdir(path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
}

// A complete .cube file as the plug-in writes it: the header, then
// size^3 lines of three numbers within [0, 1]. Empty when it is one.
inline std::string cubeProblem(const std::string &text) {
  if (text.compare(0, 6, "TITLE ") != 0) return "no TITLE line";
  const size_t sizeAt = text.find("\nLUT_3D_SIZE ");
  if (sizeAt == std::string::npos) return "no LUT_3D_SIZE line";
  for (size_t at = text.find('\n'); at < sizeAt; at = text.find('\n', at + 1))
    if (text.compare(at + 1, 2, "# ") != 0) return "a header line that is neither a comment nor the size";
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

// A complete .cdl file as the plug-in writes it: 13 lines, with three finite
// numbers each in Slope, Offset and Power and one in Saturation.
inline std::string cdlProblem(const std::string &text) {
  static const char *const kLines[] = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                                       "<ColorCorrectionCollection xmlns=\"urn:ASC:CDL:v1.01\">",
                                       "  <ColorCorrection id=\"Tintbridge\">",
                                       "    <SOPNode>",
                                       "      <Slope>%3</Slope>",
                                       "      <Offset>%3</Offset>",
                                       "      <Power>%3</Power>",
                                       "    </SOPNode>",
                                       "    <SatNode>",
                                       "      <Saturation>%1</Saturation>",
                                       "    </SatNode>",
                                       "  </ColorCorrection>",
                                       "</ColorCorrectionCollection>"};
  size_t at = 0;
  for (const char *expected : kLines) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) return std::string("missing line ") + expected;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    // "%3" in the model line stands for three numbers between the tags.
    const char *marker = std::strchr(expected, '%');
    if (marker == nullptr) {
      if (line != expected) return "line '" + line + "' is not '" + expected + "'";
      continue;
    }
    const std::string open(expected, marker), close(marker + 2);
    if (line.compare(0, open.size(), open) != 0 || line.size() < open.size() + close.size() ||
        line.compare(line.size() - close.size(), close.size(), close) != 0)
      return "line '" + line + "' is not of the form '" + expected + "'";
    std::istringstream numbers(line.substr(open.size(), line.size() - open.size() - close.size()));
    for (int i = 0; i < marker[1] - '0'; ++i) {
      std::string word;
      numbers >> word;
      char *stop = nullptr;
      const double v = std::strtod(word.c_str(), &stop);
      if (word.empty() || *stop != '\0' || !std::isfinite(v))
        return "'" + word + "' in '" + line + "' is no finite number";
    }
    std::string extra;
    if (numbers >> extra) return "extra text in '" + line + "'";
  }
  if (at != text.size()) return "text after the end";
  return std::string();
}

// A complete export of either kind, judged by its content.
inline std::string exportProblem(const std::string &text) {
  if (text.compare(0, 6, "TITLE ") == 0) return cubeProblem(text);
  if (text.compare(0, 5, "<?xml") == 0) return cdlProblem(text);
  return "neither a .cube nor a .cdl file";
}

inline void removeFolder(const std::string &folder) {
  emptyFolder(folder, {});
  ::rmdir(folder.c_str());
}

// The scratch folder of this process, removed when the process exits
// normally (libFuzzer ends a run that found nothing with exit()) or on a
// broken invariant. Empty until scratchFolder() makes it.
struct ScratchFolder {
  std::string path;
  ~ScratchFolder() {
    if (!path.empty()) removeFolder(path);
  }
};

inline ScratchFolder &processScratch() {
  static ScratchFolder folder;
  return folder;
}

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
  if (!processScratch().path.empty()) removeFolder(processScratch().path);
  std::abort();
}

#define FUZZ_CHECK(cond, ...)                       \
  do {                                              \
    if (!(cond)) ::fuzzsupport::fail(__VA_ARGS__);  \
  } while (0)

// Scratch folders are made in memory where the machine has it (the export
// writers sync every file they write, which costs milliseconds on a disk).
inline std::string scratchBase() {
  return ::access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
}

// Removes the scratch folders of fuzz processes that no longer run (those
// that ended in a crash or a timeout, which skip the removal at exit). The
// folder names carry the process id.
inline void removeStaleScratchFolders(const std::string &base) {
  static const char kPrefix[] = "tintbridge-fuzz-";
  DIR *dir = ::opendir(base.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (dirent *entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, kPrefix, sizeof kPrefix - 1) != 0) continue;
    char *end = nullptr;
    const long pid = std::strtol(entry->d_name + sizeof kPrefix - 1, &end, 10);
    if (pid <= 0 || end == nullptr || *end != '-') continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) stale.push_back(base + "/" + entry->d_name);
  }
  ::closedir(dir);
  for (const std::string &folder : stale) removeFolder(folder);
}

// A scratch folder of this process, made once; HOME points into it so that
// the default export folder (the documents folder) lies inside it too.
inline const std::string &scratchFolder() {
  ScratchFolder &folder = processScratch();
  if (folder.path.empty()) {
    const std::string base = scratchBase();
    removeStaleScratchFolders(base);
    std::string pattern = base + "/tintbridge-fuzz-" + std::to_string(::getpid()) + "-XXXXXX";
    const char *made = mkdtemp(&pattern[0]);
    if (made == nullptr) fail("cannot create a scratch folder in %s", base.c_str());
    char canonical[4096];
    const std::string f = ::realpath(made, canonical) ? canonical : made;
    ::mkdir((f + "/home").c_str(), 0700);
    ::mkdir((f + "/home/Documents").c_str(), 0700);
    ::setenv("HOME", (f + "/home").c_str(), 1);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    ::unsetenv("XDG_CONFIG_HOME");
    folder.path = f;
  }
  return folder.path;
}

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
