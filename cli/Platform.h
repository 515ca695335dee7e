// The few things the command needs from the operating system, one small
// function each.
#ifndef TINTBRIDGE_CLI_PLATFORM_H
#define TINTBRIDGE_CLI_PLATFORM_H

#include <string>

namespace tbcli {

// True when the standard error stream is a terminal (for the progress bar).
bool stderrIsTerminal();
// The folder holding the running executable, or "" when unknown.
std::string executableFolder();
// The id of this process, for names of temporary files.
long processId();

}  // namespace tbcli

#endif
