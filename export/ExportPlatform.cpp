#include "export/ExportPlatform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

// Copies `text` (length `length`) into `buffer` when it fits with its NUL.
bool copyFitting(const char *text, size_t length, char *buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0 || length >= capacity) return false;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return true;
}

#if !defined(_WIN32)
bool isFolder(const char *path) { return pathKind(path) == PathKind::Directory; }

// The user's home folder: $HOME, or the account's entry when it is unset.
bool homeFolder(char *buffer, size_t capacity) {
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return copyFitting(home, std::strlen(home), buffer, capacity);
  struct passwd entry;
  struct passwd *found = nullptr;
  char scratch[4096];
  if (getpwuid_r(getuid(), &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr) return false;
  if (found->pw_dir == nullptr || found->pw_dir[0] != '/') return false;
  return copyFitting(found->pw_dir, std::strlen(found->pw_dir), buffer, capacity);
}

// Joins a folder and a relative part with one '/'.
bool joinPath(const char *folder, const char *part, char *buffer, size_t capacity) {
  size_t folderLength = std::strlen(folder);
  while (folderLength > 1 && folder[folderLength - 1] == '/') --folderLength;
  while (*part == '/') ++part;
  const size_t partLength = std::strlen(part);
  const bool needSlash = folderLength > 0 && folder[folderLength - 1] != '/' && partLength > 0;
  const size_t total = folderLength + (needSlash ? 1 : 0) + partLength;
  if (buffer == nullptr || total >= capacity) return false;
  std::memmove(buffer, folder, folderLength);
  size_t at = folderLength;
  if (needSlash) buffer[at++] = '/';
  std::memcpy(buffer + at, part, partLength);
  buffer[total] = '\0';
  return true;
}

// Drops trailing slashes except for the root itself.
void trimTrailingSlashes(char *path) {
  size_t length = std::strlen(path);
  while (length > 1 && path[length - 1] == '/') path[--length] = '\0';
}

#if !defined(__APPLE__)
// Reads XDG_DOCUMENTS_DIR from the user-dirs.dirs file, which holds shell
// assignments such as XDG_DOCUMENTS_DIR="$HOME/Documents". The last
// assignment wins, as when the shell sources it.
bool xdgDocumentsFromUserDirs(const char *home, char *buffer, size_t capacity) {
  char configFile[PATH_MAX];
  const char *config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    if (!joinPath(config, "user-dirs.dirs", configFile, sizeof configFile)) return false;
  } else {
    if (home == nullptr || !joinPath(home, ".config/user-dirs.dirs", configFile, sizeof configFile)) return false;
  }
  std::FILE *file = std::fopen(configFile, "r");
  if (file == nullptr) return false;
  static const char kKey[] = "XDG_DOCUMENTS_DIR=\"";
  bool found = false;
  char line[PATH_MAX + 64];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    const char *p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (std::strncmp(p, kKey, sizeof kKey - 1) != 0) continue;
    p += sizeof kKey - 1;
    char value[PATH_MAX];
    size_t length = 0;
    bool closed = false;
    while (*p != '\0' && length + 1 < sizeof value) {
      if (*p == '"') {
        closed = true;
        break;
      }
      if (*p == '\\' && p[1] != '\0') ++p;
      value[length++] = *p++;
    }
    if (!closed) continue;
    value[length] = '\0';
    if (std::strncmp(value, "$HOME", 5) == 0 && (value[5] == '/' || value[5] == '\0')) {
      if (home == nullptr) continue;
      found = joinPath(home, value + 5, buffer, capacity);
    } else if (value[0] == '/') {
      found = copyFitting(value, length, buffer, capacity);
    }
  }
  std::fclose(file);
  return found;
}
#endif
#endif

}  // namespace

#if defined(_WIN32)

char pathSeparator() { return '\\'; }

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

PathKind pathKind(const char *path) {
  if (path == nullptr || path[0] == '\0') return PathKind::Missing;
  struct _stat64 info;
  if (_stat64(path, &info) != 0) return errno == ENOENT ? PathKind::Missing : PathKind::Unknown;
  if ((info.st_mode & _S_IFMT) == _S_IFDIR) return PathKind::Directory;
  if ((info.st_mode & _S_IFMT) == _S_IFREG) return PathKind::Regular;
  return PathKind::Special;
}

bool resolveLinks(const char *path, char *buffer, size_t capacity) {
  if (path == nullptr) return false;
  return copyFitting(path, std::strlen(path), buffer, capacity);
}

void copyPermissions(const char *, FILE *) {}

FILE *createNewFile(const char *path, bool &exists) {
  exists = false;
  const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    exists = errno == EEXIST;
    return nullptr;
  }
  FILE *stream = _fdopen(fd, "w");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool syncToDisk(FILE *stream) { return _commit(_fileno(stream)) == 0; }

bool replaceFile(const char *from, const char *to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool localTimeOf(std::time_t t, std::tm &out) { return localtime_s(&out, &t) == 0; }

bool documentsFolder(char *buffer, size_t capacity) {
  char folder[MAX_PATH];
  std::memset(folder, 0, sizeof folder);
  if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, folder) < 0) return false;
  folder[MAX_PATH - 1] = '\0';
  if (folder[0] == '\0') return false;
  return copyFitting(folder, std::strlen(folder), buffer, capacity);
}

const char *fallbackExportFolder() { return "C:\\temp"; }

#else

char pathSeparator() { return '/'; }

bool isPathSeparator(char c) { return c == '/'; }

PathKind pathKind(const char *path) {
  if (path == nullptr || path[0] == '\0') return PathKind::Missing;
  struct stat info;
  if (stat(path, &info) != 0) return errno == ENOENT ? PathKind::Missing : PathKind::Unknown;
  if (S_ISDIR(info.st_mode)) return PathKind::Directory;
  if (S_ISREG(info.st_mode)) return PathKind::Regular;
  return PathKind::Special;
}

bool resolveLinks(const char *path, char *buffer, size_t capacity) {
  if (path == nullptr) return false;
  struct stat info;
  if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) return copyFitting(path, std::strlen(path), buffer, capacity);
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return false;
  return copyFitting(resolved, std::strlen(resolved), buffer, capacity);
}

void copyPermissions(const char *fromPath, FILE *stream) {
  struct stat info;
  if (stat(fromPath, &info) != 0) return;
  (void)fchmod(fileno(stream), info.st_mode & 07777);
}

FILE *createNewFile(const char *path, bool &exists) {
  exists = false;
  FILE *stream = std::fopen(path, "wx");
  if (stream == nullptr) exists = errno == EEXIST;
  return stream;
}

bool syncToDisk(FILE *stream) {
  while (fsync(fileno(stream)) != 0) {
    if (errno != EINTR) return errno == EINVAL || errno == EROFS;  // nothing to sync on this kind of file
  }
  return true;
}

bool replaceFile(const char *from, const char *to) { return std::rename(from, to) == 0; }

bool localTimeOf(std::time_t t, std::tm &out) { return localtime_r(&t, &out) != nullptr; }

bool documentsFolder(char *buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  char home[PATH_MAX];
  const bool haveHome = homeFolder(home, sizeof home);
  char candidate[PATH_MAX];
#if !defined(__APPLE__)
  // The desktop's documents folder: an explicit XDG_DOCUMENTS_DIR, then the
  // user-dirs.dirs file.
  const char *fromEnvironment = std::getenv("XDG_DOCUMENTS_DIR");
  if (fromEnvironment != nullptr && fromEnvironment[0] == '/' &&
      copyFitting(fromEnvironment, std::strlen(fromEnvironment), candidate, sizeof candidate)) {
    trimTrailingSlashes(candidate);
    if (isFolder(candidate)) return copyFitting(candidate, std::strlen(candidate), buffer, capacity);
  }
  if (xdgDocumentsFromUserDirs(haveHome ? home : nullptr, candidate, sizeof candidate)) {
    trimTrailingSlashes(candidate);
    if (isFolder(candidate)) return copyFitting(candidate, std::strlen(candidate), buffer, capacity);
  }
#endif
  // ~/Documents: the macOS documents folder, and the common one elsewhere.
  if (haveHome && joinPath(home, "Documents", candidate, sizeof candidate) && isFolder(candidate)) {
    return copyFitting(candidate, std::strlen(candidate), buffer, capacity);
  }
  return false;
}

const char *fallbackExportFolder() { return "/tmp"; }

#endif
