// Captures what is written to file descriptor 2 (the module's debug lines on
// Linux and macOS) for the life of the object.
//
//   tbhost::StderrCapture capture;
//   ... call the plug-in ...
//   std::vector<std::string> lines = capture.lines();  // each with its "\n"
#ifndef TINTBRIDGE_HOST_STDERR_CAPTURE_H
#define TINTBRIDGE_HOST_STDERR_CAPTURE_H

#include <string>
#include <vector>

namespace tbhost {

class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture &) = delete;
  StderrCapture &operator=(const StderrCapture &) = delete;

  bool active() const { return saved_ >= 0; }
  // Everything written so far.
  std::string text() const;
  // The lines written so far, each ending in "\n"; a last unterminated piece
  // comes without one.
  std::vector<std::string> lines() const;
  // Lines starting with `prefix`.
  std::vector<std::string> linesStartingWith(const std::string &prefix) const;

 private:
  int saved_ = -1;
  std::string path_;
};

}  // namespace tbhost

#endif
