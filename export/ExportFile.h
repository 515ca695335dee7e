// Safe output for the export writers. A regular file is written to a
// temporary file in the same folder and moved over the target only when
// every write, the flush and the close have succeeded, so a failed export
// leaves an earlier file untouched and no partial file behind. Devices and
// pipes are written in place; folders are refused.
#ifndef TINTBRIDGE_EXPORT_FILE_H
#define TINTBRIDGE_EXPORT_FILE_H

#include <cstddef>
#include <cstdio>

enum { kExportFilePathCapacity = 4096 };

struct ExportFile {
  FILE *stream;
  bool inPlace;  // writing the target itself (device or pipe)
  bool failed;   // a write has failed
  char target[kExportFilePathCapacity];
  char temporary[kExportFilePathCapacity];
};

// Opens the output for `path`; false, with nothing created, when the target
// is a folder, cannot be examined or cannot be written.
bool openExportFile(const char *path, ExportFile &file);

// printf into the output; false once any write has failed.
bool exportPrint(ExportFile &file, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Flushes, closes and puts the file in place. True only when everything
// written so far reached the target; otherwise the temporary file is removed.
bool closeExportFile(ExportFile &file);

#endif
