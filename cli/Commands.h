// The subcommands of `tintbridge`. Each returns the exit status: 0 on
// success, 2 on any failure, after saying why on `err`.
#ifndef TINTBRIDGE_CLI_COMMANDS_H
#define TINTBRIDGE_CLI_COMMANDS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace tbcli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;

// Dispatches on args[0] ("match", "describe", "grade", "--help", ...).
int runCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

int runMatch(const MatchOptions &options, std::ostream &out, std::ostream &err);
int runDescribe(const DescribeOptions &options, std::ostream &out, std::ostream &err);
int runGrade(const GradeOptions &options, std::ostream &out, std::ostream &err);

// The ASC CDL grade of the `grade` command on one straight-alpha pixel.
void applyGrade(const GradeOptions &options, float rgb[3]);

// "tintbridge: <message>" on `err`; returns kExitFailure.
int fail(std::ostream &err, const std::string &message);
// After an interruption, with every temporary file removed: one line naming
// the outputs left as they were; returns 128 + the signal's number.
int interrupted(std::ostream &err, const std::vector<std::string> &untouched);

}  // namespace tbcli

#endif
