// The "exportPath" rules, the time-stamped names and the default folder.
#include "export/ExportPaths.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "export/ExportPlatform.h"

namespace {

std::atomic<ExportClock> gExportClock{nullptr};

bool endsWith(const char *text, size_t length, const char *suffix) {
  const size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength && std::memcmp(text + length - suffixLength, suffix, suffixLength) == 0;
}

// Appends `text` to the path of `length` characters; false when the result
// would not fit within kExportPathCapacity.
bool appendWhole(char *buffer, size_t length, const char *text) {
  const size_t textLength = std::strlen(text);
  if (length + textLength >= kExportPathCapacity) return false;
  std::memcpy(buffer + length, text, textLength + 1);
  return true;
}

// Room for the time-stamped name of any stamp, out-of-range fields included.
constexpr size_t kFileNameCapacity = 128;

// The time-stamped name, computed in 64 bits so that no field overflows;
// false when it does not fit whole.
bool formatFileName(char *name, size_t capacity, const std::tm &stamp, const char *extension) {
  const int length = std::snprintf(name, capacity, "Tintbridge_%04lld%02lld%02d_%02d%02d%02d%s",
                                   static_cast<long long>(stamp.tm_year) + 1900,
                                   static_cast<long long>(stamp.tm_mon) + 1, stamp.tm_mday, stamp.tm_hour,
                                   stamp.tm_min, stamp.tm_sec, extension);
  return length >= 0 && static_cast<size_t>(length) < capacity;
}

// The documents folder (or the fixed fallback) plus the time-stamped name
// with `extension`; false when the whole path does not fit in `capacity`.
bool formatDefaultPath(char *buffer, size_t capacity, const std::tm &stamp, const char *extension) {
  if (buffer == nullptr || capacity == 0) return false;
  char folder[kExportPathCapacity];
  std::memset(folder, 0, sizeof folder);
  if (!documentsFolder(folder, sizeof folder)) {
    std::snprintf(folder, sizeof folder, "%s", fallbackExportFolder());
  }
  const size_t folderLength = std::strlen(folder);
  const bool needSeparator = folderLength == 0 || !isPathSeparator(folder[folderLength - 1]);
  char name[kFileNameCapacity];
  if (!formatFileName(name, sizeof name, stamp, extension)) return false;
  const char separator[2] = {needSeparator ? pathSeparator() : '\0', '\0'};
  const int length = std::snprintf(buffer, capacity, "%s%s%s", folder, separator, name);
  return length >= 0 && static_cast<size_t>(length) < capacity;
}

}  // namespace

void setExportClock(ExportClock clock) { gExportClock.store(clock); }

std::tm exportTimeStamp() {
  std::tm stamp;
  std::memset(&stamp, 0, sizeof stamp);
  const ExportClock clock = gExportClock.load();
  bool ok;
  if (clock != nullptr) {
    ok = clock(stamp);
  } else {
    ok = localTimeOf(std::time(nullptr), stamp);
  }
  if (!ok) {
    // A clock that cannot be read stamps the start of the epoch.
    std::memset(&stamp, 0, sizeof stamp);
    stamp.tm_year = 70;
    stamp.tm_mday = 1;
  }
  return stamp;
}

bool formatDefaultExportPath(char *buffer, size_t capacity, const std::tm &stamp) {
  return formatDefaultPath(buffer, capacity, stamp, ".cube");
}

bool resolveExportPath(const char *userPath, ExportKind kind, const std::tm &stamp, char *buffer) {
  std::memset(buffer, 0, kExportPathCapacity);
  if (userPath == nullptr || userPath[0] == '\0') {
    if (!formatDefaultPath(buffer, kExportPathCapacity, stamp, kind == ExportKind::Cube ? ".cube" : ".cdl")) {
      std::memset(buffer, 0, kExportPathCapacity);
      return false;
    }
    return true;
  }

  // A path that does not fit is refused, never cut into a different name.
  const size_t length = std::strlen(userPath);
  if (length >= kExportPathCapacity) return false;
  std::memcpy(buffer, userPath, length + 1);

  bool ok = true;
  const char last = buffer[length - 1];
  if (last == '/' || last == '\\') {
    char name[kFileNameCapacity];
    ok = formatFileName(name, sizeof name, stamp, kind == ExportKind::Cube ? ".cube" : ".cdl") &&
         appendWhole(buffer, length, name);
  } else if (endsWith(buffer, length, ".cube")) {
    if (kind == ExportKind::Cdl) std::memcpy(buffer + length - 5, ".cdl", 5);
  } else if (endsWith(buffer, length, ".cdl")) {
    if (kind == ExportKind::Cube) ok = appendWhole(buffer, length, ".cube");
  } else {
    ok = appendWhole(buffer, length, kind == ExportKind::Cube ? ".cube" : ".cdl");
  }
  if (!ok) std::memset(buffer, 0, kExportPathCapacity);
  return ok;
}

void defaultExportPath(char *buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return;
  char full[kExportPathCapacity + kFileNameCapacity];
  std::memset(full, 0, sizeof full);
  formatDefaultExportPath(full, sizeof full, exportTimeStamp());
  // The documented contract: cut to what the caller's buffer holds.
  std::snprintf(buffer, capacity, "%s", full);
}

