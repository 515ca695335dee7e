#include "plugin/DebugLog.h"

#include <atomic>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
std::atomic<DebugLogSink> gSink{nullptr};

// The platform's debug-output channel: the debugger's output on Windows, the
// standard error stream elsewhere, one write per line so that lines from
// several threads never interleave.
void writeDebugChannel(const char *line) {
#if defined(_WIN32)
  OutputDebugStringA(line);
#else
  size_t left = std::strlen(line);
  while (left > 0) {
    const ssize_t n = ::write(2, line, left);
    if (n <= 0) return;
    line += n;
    left -= static_cast<size_t>(n);
  }
#endif
}
}  // namespace

void setDebugLogSink(DebugLogSink sink) { gSink.store(sink); }

void debugLog(const char *line) {
  if (line == nullptr) return;
  DebugLogSink sink = gSink.load();
  if (sink != nullptr) {
    sink(line);
    return;
  }
  writeDebugChannel(line);
}
