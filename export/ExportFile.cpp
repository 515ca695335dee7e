#include "export/ExportFile.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstring>

#include "export/ExportPlatform.h"

namespace {

std::atomic<unsigned> gTemporaryCounter{0};

// Length of the folder part of `path`, its last separator included.
size_t folderPartLength(const char *path) {
  size_t end = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (isPathSeparator(path[i])) end = i + 1;
  }
  return end;
}

// Creates a fresh temporary file in the target's folder. The name is short so
// it fits wherever the target's own name fits.
bool createTemporaryBeside(ExportFile &file) {
  const size_t folderLength = folderPartLength(file.target);
  for (int attempt = 0; attempt < 32; ++attempt) {
    const unsigned long long ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned counter = gTemporaryCounter.fetch_add(1);
    char name[64];
    std::snprintf(name, sizeof name, ".Tintbridge-%llx-%x.tmp", ticks & 0xffffffffffffULL, counter);
    const size_t nameLength = std::strlen(name);
    if (folderLength + nameLength >= sizeof file.temporary) return false;
    std::memcpy(file.temporary, file.target, folderLength);
    std::memcpy(file.temporary + folderLength, name, nameLength + 1);
    bool exists = false;
    file.stream = createNewFile(file.temporary, exists);
    if (file.stream != nullptr) return true;
    if (!exists) break;
  }
  file.temporary[0] = '\0';
  return false;
}

}  // namespace

bool openExportFile(const char *path, ExportFile &file) {
  file.stream = nullptr;
  file.inPlace = false;
  file.failed = false;
  file.target[0] = '\0';
  file.temporary[0] = '\0';
  if (path == nullptr || path[0] == '\0') return false;

  const PathKind kind = pathKind(path);
  switch (kind) {
    case PathKind::Directory:
    case PathKind::Unknown:
      return false;
    case PathKind::Special: {
      const size_t length = std::strlen(path);
      if (length >= sizeof file.target) return false;
      std::memcpy(file.target, path, length + 1);
      file.stream = std::fopen(path, "w");
      file.inPlace = true;
      return file.stream != nullptr;
    }
    case PathKind::Regular:
      if (!resolveLinks(path, file.target, sizeof file.target)) return false;
      break;
    case PathKind::Missing: {
      const size_t length = std::strlen(path);
      if (length >= sizeof file.target) return false;
      std::memcpy(file.target, path, length + 1);
      break;
    }
  }
  if (!createTemporaryBeside(file)) return false;
  if (kind == PathKind::Regular) copyPermissions(file.target, file.stream);
  return true;
}

bool exportPrint(ExportFile &file, const char *format, ...) {
  if (file.failed || file.stream == nullptr) return false;
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(file.stream, format, args);
  va_end(args);
  if (written < 0) file.failed = true;
  return !file.failed;
}

bool closeExportFile(ExportFile &file) {
  if (file.stream == nullptr) return false;
  bool ok = !file.failed;
  if (std::fflush(file.stream) != 0) ok = false;
  if (std::ferror(file.stream) != 0) ok = false;
  if (ok && !file.inPlace && !syncToDisk(file.stream)) ok = false;
  if (std::fclose(file.stream) != 0) ok = false;
  file.stream = nullptr;
  if (file.inPlace) return ok;
  if (ok && !replaceFile(file.temporary, file.target)) ok = false;
  if (!ok) std::remove(file.temporary);
  file.temporary[0] = '\0';
  return ok;
}
