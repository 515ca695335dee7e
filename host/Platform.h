// The few operating-system calls the host needs, one small function each.
#ifndef TINTBRIDGE_HOST_PLATFORM_H
#define TINTBRIDGE_HOST_PLATFORM_H

#include <string>

namespace tbhost {

using LibraryFunction = void (*)();

// Loads a shared library; null and a reason in `error` on failure.
void *openLibrary(const std::string &path, std::string &error);
// An exported function of a loaded library, or null.
LibraryFunction librarySymbol(void *library, const char *name);
void closeLibrary(void *library);

// Points file descriptor 2 at a new temporary file whose path is returned in
// `path`; returns the saved descriptor, or -1 on failure.
int redirectStderr(std::string &path);
// Points descriptor 2 back at `saved` and closes it.
void restoreStderr(int saved);
void removeFile(const std::string &path);

}  // namespace tbhost

#endif
