// tintbridge: the plug-in's colour match on image files, through the headless
// host, exactly as an editing application runs it.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Platform.h"

int main(int argc, char **argv) {
  tbcli::ignoreFileSizeSignal();
  std::vector<std::string> args(argv + 1, argv + argc);
  return tbcli::runCommand(args, std::cout, std::cerr);
}
