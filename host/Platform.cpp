#include "host/Platform.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace tbhost {

#if defined(_WIN32)

void *openLibrary(const std::string &path, std::string &error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void *>(module);
}

LibraryFunction librarySymbol(void *library, const char *name) {
  FARPROC proc = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  LibraryFunction fn = nullptr;
  std::memcpy(&fn, &proc, sizeof fn);
  return fn;
}

void closeLibrary(void *library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

int redirectStderr(std::string &path) {
  char dir[MAX_PATH];
  char name[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, dir) || !GetTempFileNameA(dir, "tbh", 0, name)) return -1;
  std::fflush(stderr);
  const int saved = _dup(2);
  const int fd = _open(name, _O_WRONLY | _O_TRUNC | _O_BINARY);
  if (saved < 0 || fd < 0) return -1;
  _dup2(fd, 2);
  _close(fd);
  path = name;
  return saved;
}

void restoreStderr(int saved) {
  if (saved < 0) return;
  std::fflush(stderr);
  _dup2(saved, 2);
  _close(saved);
}

#else

void *openLibrary(const std::string &path, std::string &error) {
  void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char *reason = dlerror();
    error = reason ? reason : "dlopen failed";
  }
  return library;
}

LibraryFunction librarySymbol(void *library, const char *name) {
  void *symbol = library ? dlsym(library, name) : nullptr;
  LibraryFunction fn = nullptr;
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

void closeLibrary(void *library) {
  if (library) dlclose(library);
}

int redirectStderr(std::string &path) {
  char name[] = "/tmp/tintbridge-stderr-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return -1;
  std::fflush(stderr);
  const int saved = dup(2);
  if (saved < 0 || dup2(fd, 2) < 0) {
    close(fd);
    if (saved >= 0) close(saved);
    unlink(name);
    return -1;
  }
  close(fd);
  path = name;
  return saved;
}

void restoreStderr(int saved) {
  if (saved < 0) return;
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
}

#endif

void removeFile(const std::string &path) {
  if (!path.empty()) std::remove(path.c_str());
}

}  // namespace tbhost
