// File names with a frame number in them: "shot.%04d.exr" (printf style,
// width optional) or "shot.####.exr" (one digit a '#'). A name is a pattern
// only where a sequence is asked for (`--frames`); anywhere else, and
// without either form, it is a still, whatever characters it holds.
#ifndef TINTBRIDGE_CLI_FRAME_PATTERN_H
#define TINTBRIDGE_CLI_FRAME_PATTERN_H

#include <string>

namespace tbcli {

// The widest frame number field a pattern may have.
constexpr int kMaxFrameDigits = 31;

class FramePattern {
 public:
  FramePattern() = default;
  // `sequence`: whether the name may be a pattern at all.
  FramePattern(const std::string &name, bool sequence);

  bool isSequence() const { return sequence_; }
  // Digits of the frame number field (at least this many, zero-padded).
  int width() const { return width_; }
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
