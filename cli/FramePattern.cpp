#include "cli/FramePattern.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tbcli {

FramePattern::FramePattern(const std::string &name, bool sequence) : text_(name), prefix_(name) {
  if (!sequence) return;
  // The last pattern in the name counts, so a folder name with '#' in it
  // does not take a file's frame number.
  for (size_t i = name.size(); i-- > 0;) {
    if (name[i] == '#') {
      size_t start = i;
      while (start > 0 && name[start - 1] == '#') --start;
      prefix_ = name.substr(0, start);
      suffix_ = name.substr(i + 1);
      width_ = static_cast<int>(i + 1 - start);
      sequence_ = true;
      return;
    }
    if (name[i] == 'd' && i > 0) {
      size_t start = i;
      while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
      if (start > 0 && name[start - 1] == '%') {
        const std::string digits = name.substr(start, i - start);
        prefix_ = name.substr(0, start - 1);
        suffix_ = name.substr(i + 1);
        // Too wide a field keeps a width that planFrames refuses.
        width_ = digits.size() > 3 ? kMaxFrameDigits + 1 : digits.empty() ? 0 : std::atoi(digits.c_str());
        sequence_ = true;
        return;
      }
    }
  }
}

std::string FramePattern::path(int frame) const {
  if (!sequence_) return text_;
  char digits[kMaxFrameDigits + 16];
  std::snprintf(digits, sizeof digits, "%0*d", width_ > kMaxFrameDigits ? kMaxFrameDigits : width_, frame);
  return prefix_ + digits + suffix_;
}

bool parseFrameRange(const std::string &text, int &first, int &last) {
  auto parseNumber = [](const std::string &s, int &value) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = std::atoi(s.c_str());
    return true;
  };
  const size_t dash = text.find('-');
  if (dash == std::string::npos) {
    if (!parseNumber(text, first)) return false;
    last = first;
    return true;
  }
  return parseNumber(text.substr(0, dash), first) && parseNumber(text.substr(dash + 1), last) && first <= last;
}

}  // namespace tbcli
