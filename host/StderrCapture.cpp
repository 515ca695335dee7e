#include "host/StderrCapture.h"

#include <fstream>
#include <sstream>

#include "host/Platform.h"

namespace tbhost {

StderrCapture::StderrCapture() { saved_ = redirectStderr(path_); }

StderrCapture::~StderrCapture() {
  restoreStderr(saved_);
  removeFile(path_);
}

std::string StderrCapture::text() const {
  if (path_.empty()) return std::string();
  std::ifstream in(path_, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> StderrCapture::lines() const {
  const std::string all = text();
  std::vector<std::string> out;
  size_t start = 0;
  while (start < all.size()) {
    const size_t end = all.find('\n', start);
    if (end == std::string::npos) {
      out.push_back(all.substr(start));
      break;
    }
    out.push_back(all.substr(start, end - start + 1));
    start = end + 1;
  }
  return out;
}

std::vector<std::string> StderrCapture::linesStartingWith(const std::string &prefix) const {
  std::vector<std::string> out;
  for (const std::string &line : lines()) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  }
  return out;
}

}  // namespace tbhost
