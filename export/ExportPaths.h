// Path resolution for the export commands: the "exportPath" rules, the
// time-stamped names and the default folder.
#ifndef TINTBRIDGE_EXPORT_PATHS_H
#define TINTBRIDGE_EXPORT_PATHS_H

#include <cstddef>
#include <ctime>

enum class ExportKind { Cube, Cdl };

// Every resolved path fits in this many bytes, its NUL included.
enum { kExportPathCapacity = 1024 };

// Source of the local time stamped into file names. Null selects the system
// clock; tests install a fixed one.
typedef bool (*ExportClock)(std::tm &out);
void setExportClock(ExportClock clock);

// The local time of this moment, from the installed clock.
std::tm exportTimeStamp();

// Documents folder (or the fixed fallback) plus the time-stamped .cube name.
// False when the whole path does not fit in `capacity` bytes.
bool formatDefaultExportPath(char *buffer, size_t capacity, const std::tm &stamp);

// Turns the "exportPath" value into the file path for `kind`, in a buffer of
// kExportPathCapacity bytes. False when the complete path would not fit: the
// path is then never shortened into a different one.
bool resolveExportPath(const char *userPath, ExportKind kind, const std::tm &stamp, char *buffer);

// The default .cube path: documents folder plus a time-stamped name, cut to
// what `buffer` holds.
void defaultExportPath(char *buffer, size_t capacity);

#endif
