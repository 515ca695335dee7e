// The few things the command needs from the operating system, one small
// function each.
#ifndef TINTBRIDGE_CLI_PLATFORM_H
#define TINTBRIDGE_CLI_PLATFORM_H

#include <cstddef>
#include <string>
#include <thread>

namespace tbcli {

// True when the standard error stream is a terminal (for the progress bar).
bool stderrIsTerminal();
// The folder holding the running executable, or "" when unknown.
std::string executableFolder();
// The id of this process, for names of temporary files.
long processId();

// Creates `path` as a new, empty file. False when it cannot: `exists` tells
// whether something of that name was there, `error` says why.
bool createNewFile(const std::string &path, bool &exists, std::string &error);
// Makes `size` bytes the whole content of the file `path` and syncs it to
// the disk; every write, the sync and the close are checked.
bool writeWholeFile(const std::string &path, const void *data, size_t size, std::string &error);
// Syncs the file `path`, written by someone else, to the disk.
bool syncFile(const std::string &path, std::string &error);
// The device and file number of what `path` names, links followed, as text;
// false where it does not exist or the system has no such numbers.
bool fileKey(const std::string &path, std::string &key);
// From now on SIGINT, SIGTERM and SIGHUP (Ctrl-C and Ctrl-Break on Windows)
// only mark the process as interrupted; the work in progress checks
// interruption() and stops cleanly.
void catchInterruptions();
// The signal that interrupted the process, or 0.
int interruption();
// "SIGINT", "SIGTERM", ...
std::string signalName(int signal);
// While it lives, lines written to the standard error stream (file
// descriptor 2, where the plug-in's debug lines go) that start with
// `prefix` are held back; everything else passes. Where the plug-in's lines
// go elsewhere (the debugger's channel on Windows) it does nothing.
class StderrFilter {
 public:
  explicit StderrFilter(const std::string &prefix);
  ~StderrFilter();
  StderrFilter(const StderrFilter &) = delete;
  StderrFilter &operator=(const StderrFilter &) = delete;

 private:
  int saved_ = -1;     // the real standard error stream
  int readEnd_ = -1;   // of the pipe that stands in for it
  std::thread reader_;
};

// A write past the file size limit fails with an error instead of ending
// the process.
void ignoreFileSizeSignal();

}  // namespace tbcli

#endif
