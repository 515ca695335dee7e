// The text of `tintbridge --help`.
#ifndef TINTBRIDGE_CLI_HELP_TEXT_H
#define TINTBRIDGE_CLI_HELP_TEXT_H

#include <string>

namespace tbcli {

std::string helpText();

}  // namespace tbcli

#endif
