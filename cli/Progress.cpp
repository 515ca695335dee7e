#include "cli/Progress.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace tbcli {

Progress::Progress(std::ostream &err, size_t total, bool bar, bool quiet)
    : err_(err), total_(total), bar_(bar), quiet_(quiet), start_(std::chrono::steady_clock::now()) {}

void Progress::frameDone(int frame, const std::string &path) {
  ++done_;
  if (quiet_) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double fps = seconds > 0 ? done_ / seconds : 0.0;
  const long left = fps > 0 ? std::lround((total_ - done_) / fps) : 0;
  char line[256];
  if (bar_) {
    const int width = 30;
    const int filled = static_cast<int>(width * done_ / total_);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '-');
    std::snprintf(line, sizeof line, "\r[%s] %zu/%zu frames  %.1f fps  %ld:%02ld left ", bar.c_str(), done_, total_,
                  fps, left / 60, left % 60);
    err_ << line << (done_ == total_ ? "\n" : "") << std::flush;
  } else {
    std::snprintf(line, sizeof line, "frame %d (%zu/%zu, %.1f fps, %ld:%02ld left): ", frame, done_, total_, fps,
                  left / 60, left % 60);
    err_ << line << path << "\n" << std::flush;
  }
}

void Progress::interrupt() {
  if (bar_ && !quiet_ && done_ > 0 && done_ < total_) err_ << "\n";
}

}  // namespace tbcli
