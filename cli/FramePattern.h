// File names with a frame number in them: "shot.%04d.exr" (printf style,
// width optional) or "shot.####.exr" (one digit a '#'). A name without either
// is a still.
#ifndef TINTBRIDGE_CLI_FRAME_PATTERN_H
#define TINTBRIDGE_CLI_FRAME_PATTERN_H

#include <string>

namespace tbcli {

class FramePattern {
 public:
  FramePattern() = default;
  explicit FramePattern(const std::string &name);

  bool isSequence() const { return sequence_; }
  // The file of `frame`, zero-padded to the pattern's width; a still's own
  // name for any frame.
  std::string path(int frame) const;
  const std::string &text() const { return text_; }

 private:
  std::string text_;
  std::string prefix_;
  std::string suffix_;
  int width_ = 0;
  bool sequence_ = false;
};

// "A-B" or "A" with 0 <= A <= B; false otherwise.
bool parseFrameRange(const std::string &text, int &first, int &last);

}  // namespace tbcli

#endif
