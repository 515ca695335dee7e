// The few operating-system services the export code needs, one small
// function each, so that the rest of export/ is plain standard C++.
#ifndef TINTBRIDGE_EXPORT_PLATFORM_H
#define TINTBRIDGE_EXPORT_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <ctime>

// What a path names at the moment of the query.
enum class PathKind {
  Missing,    // nothing there (or a dangling link)
  Regular,    // a regular file, directly or through a symbolic link
  Directory,  // a folder
  Special,    // a device, pipe, socket or other non-regular file
  Unknown,    // the query failed for another reason (no permission, ...)
};

// The platform's own path separator.
char pathSeparator();

// True for every character the platform treats as a separator.
bool isPathSeparator(char c);

PathKind pathKind(const char *path);

// Follows symbolic links to the file they name, so that a replacement lands
// on the linked file rather than on the link. Writes at most `capacity`
// bytes; false when the path cannot be resolved or does not fit.
bool resolveLinks(const char *path, char *buffer, size_t capacity);

// Gives `stream` the permission bits of the existing file `fromPath`, so a
// replaced file keeps them. Best effort; no-op where not applicable.
void copyPermissions(const char *fromPath, FILE *stream);

// Creates `path` for writing in text mode, failing when it already exists.
// Null on failure, with `exists` telling whether a file was in the way.
FILE *createNewFile(const char *path, bool &exists);

// Pushes the stream's written data to the storage device; false on error.
bool syncToDisk(FILE *stream);

// Moves `from` over `to`, replacing an existing file in one step.
bool replaceFile(const char *from, const char *to);

// Local time of `t`, thread-safe; false when it cannot be converted.
bool localTimeOf(std::time_t t, std::tm &out);

// The user's documents folder, without a trailing separator unless it is a
// root. Writes at most `capacity` bytes; false when none can be found.
bool documentsFolder(char *buffer, size_t capacity);

// Folder used when no documents folder can be found. Not created.
const char *fallbackExportFolder();

#endif
