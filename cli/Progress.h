// Frames done, speed and time left: a bar redrawn in place on a terminal,
// one line a frame elsewhere.
#ifndef TINTBRIDGE_CLI_PROGRESS_H
#define TINTBRIDGE_CLI_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>

namespace tbcli {

class Progress {
 public:
  Progress(std::ostream &err, size_t total, bool bar, bool quiet);

  void frameDone(int frame, const std::string &path);
  // Ends a bar that stopped part-way.
  void interrupt();

 private:
  std::ostream &err_;
  size_t total_;
  size_t done_ = 0;
  bool bar_;
  bool quiet_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tbcli

#endif
