#include "cli/Commands.h"

#include <exception>
#include <new>
#include <ostream>

#include "cli/HelpText.h"
#include "cli/Platform.h"

namespace tbcli {

namespace {

// An option problem: the message and a pointer to the help.
int usageError(std::ostream &err, const std::string &problem) {
  fail(err, problem);
  err << "Try 'tintbridge --help'.\n";
  return kExitFailure;
}

}  // namespace

int fail(std::ostream &err, const std::string &message) {
  err << "tintbridge: " << message << "\n";
  return kExitFailure;
}

int interrupted(std::ostream &err, const std::vector<std::string> &untouched) {
  const int signal = interruption();
  err << "tintbridge: interrupted by " << signalName(signal) << ": nothing written, left untouched:";
  for (size_t i = 0; i < untouched.size(); ++i) err << (i ? ", '" : " '") << untouched[i] << "'";
  err << "\n";
  return 128 + signal;
}

namespace {

int dispatch(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  if (args.empty()) {
    err << helpText();
    return kExitFailure;
  }
  const std::string &command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  bool help = command == "--help" || command == "-h" || command == "help";
  for (const std::string &a : rest) {
    if (a == "--") break;
    help = help || a == "--help" || a == "-h";
  }
  if (help) {
    out << helpText();
    return kExitOk;
  }
  if (command == "--version") {
    out << "tintbridge 1.0\n";
    return kExitOk;
  }
  if (command == "match" || command == "grade") catchInterruptions();
  if (command == "match") {
    MatchOptions options;
    const std::string problem = parseMatchOptions(rest, options);
    return problem.empty() ? runMatch(options, out, err) : usageError(err, problem);
  }
  if (command == "grade") {
    GradeOptions options;
    const std::string problem = parseGradeOptions(rest, options);
    return problem.empty() ? runGrade(options, out, err) : usageError(err, problem);
  }
  if (command == "describe") {
    DescribeOptions options;
    const std::string problem = parseDescribeOptions(rest, options);
    return problem.empty() ? runDescribe(options, out, err) : usageError(err, problem);
  }
  return usageError(err, "unknown command '" + command + "'");
}

}  // namespace

int runCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  // The commands say which file they were at; this is the last net.
  try {
    return dispatch(args, out, err);
  } catch (const std::bad_alloc &) {
    return fail(err, "not enough memory");
  } catch (const std::exception &e) {
    return fail(err, e.what());
  }
}

}  // namespace tbcli
