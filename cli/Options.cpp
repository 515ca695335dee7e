#include "cli/Options.h"

#include "cli/FramePattern.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tbcli {

namespace {

bool parseNumber(const std::string &text, double &value) {
  if (text.empty()) return false;
  errno = 0;
  char *end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseInteger(const std::string &text, int &value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::atoi(text.c_str());
  return true;
}

// "R,G,B" or one number for all three.
bool parseTriple(const std::string &text, double out[3]) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() != 1 && parts.size() != 3) return false;
  for (size_t i = 0; i < 3; ++i)
    if (!parseNumber(parts[parts.size() == 1 ? 0 : i], out[i])) return false;
  return true;
}

std::string badValue(const std::string &option, const std::string &value, const std::string &expected) {
  return "invalid value '" + value + "' for " + option + " (" + expected + ")";
}

// Walks the arguments: options with their values, and the plain arguments.
// `takesValue` names the options that need one; "--name=value" works too.
class ArgWalker {
 public:
  explicit ArgWalker(const std::vector<std::string> &args) : args_(args) {}

  // False at the end. `name` is the option ("" for a plain argument).
  bool next(std::string &name, std::string &value, bool &hasInlineValue) {
    if (index_ >= args_.size()) return false;
    const std::string &a = args_[index_++];
    hasInlineValue = false;
    if (onlyPlain_ || a.size() < 2 || a[0] != '-') {
      name.clear();
      value = a;
      return true;
    }
    if (a == "--") {
      onlyPlain_ = true;
      return next(name, value, hasInlineValue);
    }
    const size_t eq = a.find('=');
    if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      hasInlineValue = true;
    } else {
      name = a;
      value.clear();
    }
    return true;
  }

  bool takeValue(std::string &value) {
    if (index_ >= args_.size()) return false;
    value = args_[index_++];
    return true;
  }

 private:
  const std::vector<std::string> &args_;
  size_t index_ = 0;
  bool onlyPlain_ = false;
};

// What the grade's values may be; the low end of the powers is open.
struct GradeRange {
  double low;
  double high;
  bool lowIncluded;
};
const GradeRange kSlopeRange = {0, 100, true};
const GradeRange kOffsetRange = {-10, 10, true};
const GradeRange kPowerRange = {0, 10, false};
const GradeRange kSaturationRange = {0, 10, true};

bool inRange(const GradeRange &r, double v) { return (r.lowIncluded ? v >= r.low : v > r.low) && v <= r.high; }

std::string rangeText(const GradeRange &r) {
  auto text = [](double v) {
    std::string t = std::to_string(v);
    t.erase(t.find_last_not_of('0') + 1);
    if (!t.empty() && t.back() == '.') t.pop_back();
    return t;
  };
  return (r.lowIncluded ? "from " : "above ") + text(r.low) + (r.lowIncluded ? " to " : " up to ") + text(r.high);
}

bool parseMix(const std::string &text, double &value) { return parseNumber(text, value) && value >= 0.0 && value <= 1.0; }

}  // namespace

bool parseDepth(const std::string &text, FileDepth &depth) {
  if (text == "8") depth = FileDepth::Uint8;
  else if (text == "16") depth = FileDepth::Uint16;
  else if (text == "half") depth = FileDepth::Half;
  else if (text == "float") depth = FileDepth::Float;
  else return false;
  return true;
}

const char *depthLabel(FileDepth depth) {
  switch (depth) {
    case FileDepth::Uint8:
      return "8";
    case FileDepth::Uint16:
      return "16";
    case FileDepth::Half:
      return "half";
    default:
      return "float";
  }
}

const char *modeLabel(int mode) { return mode == 1 ? "Same Frame" : "Different Clips"; }

const char *preserveLabel(int preserve) {
  switch (preserve) {
    case 1:
      return "Original Brightness";
    case 2:
      return "Original Colors";
    default:
      return "Nothing (Full Match)";
  }
}

std::string parseMatchOptions(const std::vector<std::string> &args, MatchOptions &o) {
  ArgWalker walker(args);
  std::vector<std::string> plain;
  std::string name, value;
  bool inlineValue = false;
  static const char *const valued[] = {"-o",         "--output",   "--mode",       "--preserve",     "--mix",
                                       "--mix-red",  "--mix-green", "--mix-blue",  "--source-mask",  "--reference-mask",
                                       "--cube",     "--cdl",      "--compare",    "--threads",      "--frames",
                                       "--depth",    "--plugin",   "--analysis",   "--analysis-range",
                                       "--analysis-frames", "--analysis-window"};
  std::string analysisRange;  // as given, checked against --frames at the end
  while (walker.next(name, value, inlineValue)) {
    if (name.empty()) {
      if (value.empty()) return "an empty argument names no file";
      plain.push_back(value);
      continue;
    }
    if (name == "--quiet" || name == "-q" || name == "--verbose" || name == "-v") {
      if (inlineValue) return "option '" + name + "' takes no value";
      (name == "--quiet" || name == "-q" ? o.quiet : o.verbose) = true;
      continue;
    }
    bool known = false;
    for (const char *v : valued) known = known || name == v;
    if (!known) return "unknown option '" + name + "'";
    if (!inlineValue && !walker.takeValue(value)) return "option '" + name + "' needs a value";

    if (name == "-o" || name == "--output") {
      o.output = value;
    } else if (name == "--mode") {
      if (value == "different") o.mode = 0;
      else if (value == "same") o.mode = 1;
      else return badValue(name, value, "use different or same");
    } else if (name == "--preserve") {
      if (value == "none") o.preserve = 0;
      else if (value == "brightness") o.preserve = 1;
      else if (value == "colors" || value == "colours") o.preserve = 2;
      else return badValue(name, value, "use none, brightness or colors");
    } else if (name == "--mix" || name == "--mix-red" || name == "--mix-green" || name == "--mix-blue") {
      double *target = name == "--mix" ? &o.mix : name == "--mix-red" ? &o.mixRed
                                                : name == "--mix-green" ? &o.mixGreen : &o.mixBlue;
      if (!parseMix(value, *target)) return badValue(name, value, "a number from 0 to 1");
    } else if (name == "--source-mask") {
      o.sourceMask = value;
    } else if (name == "--reference-mask") {
      o.referenceMask = value;
    } else if (name == "--cube") {
      o.cube = value;
    } else if (name == "--cdl") {
      o.cdl = value;
    } else if (name == "--compare") {
      o.compare = value;
    } else if (name == "--plugin") {
      o.plugin = value;
    } else if (name == "--threads") {
      if (!parseInteger(value, o.threads) || o.threads < 1 || o.threads > 256)
        return badValue(name, value, "a whole number from 1 to 256");
    } else if (name == "--frames") {
      if (!parseFrameRange(value, o.firstFrame, o.lastFrame))
        return badValue(name, value, "FIRST-LAST, for example 1001-1048");
      o.framesGiven = true;
    } else if (name == "--depth") {
      if (!parseDepth(value, o.depth)) return badValue(name, value, "use 8, 16, half or float");
      o.depthGiven = true;
    } else if (name == "--analysis") {
      if (value == "every") o.analysis = 0;
      else if (value == "range") o.analysis = 1;
      else if (value == "rolling") o.analysis = 2;
      else return badValue(name, value, "use every, range or rolling");
    } else if (name == "--analysis-range") {
      if (!parseFrameRange(value, o.analysisStart, o.analysisEnd))
        return badValue(name, value, "FIRST-LAST within the --frames range");
      analysisRange = value;
    } else if (name == "--analysis-frames") {
      if (!parseInteger(value, o.analysisFrames) || o.analysisFrames < 1 || o.analysisFrames > kAnalysisFramesMax)
        return badValue(name, value, "a whole number from 1 to 250");
    } else if (name == "--analysis-window") {
      if (!parseInteger(value, o.analysisWindow) || o.analysisWindow < 1 ||
          o.analysisWindow > kAnalysisWindowMax)
        return badValue(name, value, "a whole number from 1 to 100");
    }
    if (value.empty()) return "option '" + name + "' needs a value";
  }
  // Only the frames of the job can be measured. The plug-in reads a range of
  // 0-0 as the whole shot, so frame 0 alone cannot be named in a longer one.
  if (analysisRange.empty()) {
    o.analysisStart = o.framesGiven ? o.firstFrame : 0;
    o.analysisEnd = o.framesGiven ? o.lastFrame : 0;
  } else if (!o.framesGiven) {
    return "option '--analysis-range' needs --frames: a single picture is its only frame";
  } else if (o.analysisStart < o.firstFrame || o.analysisEnd > o.lastFrame) {
    return badValue("--analysis-range", analysisRange,
                    "FIRST-LAST within the --frames range " + std::to_string(o.firstFrame) + "-" +
                        std::to_string(o.lastFrame));
  } else if (o.analysisEnd == 0 && o.lastFrame > 0) {
    return badValue("--analysis-range", analysisRange,
                    "0-0 stands for the whole shot in the plug-in; frame 0 alone cannot be the range");
  }
  if (plain.size() > 2) return "unexpected argument '" + plain[2] + "'";
  if (plain.size() < 2) return "match needs a SOURCE and a REFERENCE image";
  o.source = plain[0];
  o.reference = plain[1];
  if (o.output.empty()) return "match needs an output file: -o OUTPUT";
  return std::string();
}

std::string planFrames(const MatchOptions &o, std::vector<int> &frames) {
  frames.assign(1, 0);
  // Without --frames every name is a still, '#' and "%d" in it or not.
  if (!o.framesGiven) return std::string();
  const FramePattern source(o.source, true), output(o.output, true);
  if (!source.isSequence())
    return "--frames needs a SOURCE with a frame number pattern, such as shot.%04d.exr or shot.####.exr";
  if (!output.isSequence()) return "OUTPUT '" + o.output + "' needs a frame number pattern, as SOURCE has one";
  for (const std::string *name : {&o.source, &o.reference, &o.output, &o.sourceMask, &o.referenceMask, &o.compare}) {
    const FramePattern p(*name, true);
    if (p.isSequence() && p.width() > kMaxFrameDigits)
      return "the frame number field of '" + *name + "' is wider than " + std::to_string(kMaxFrameDigits) + " digits";
  }
  if (static_cast<long long>(o.lastFrame) - o.firstFrame >= 1000000) return "--frames names too many frames";
  frames.clear();
  for (int f = o.firstFrame; f <= o.lastFrame; ++f) frames.push_back(f);
  return std::string();
}

std::string parseGradeOptions(const std::vector<std::string> &args, GradeOptions &o) {
  ArgWalker walker(args);
  std::vector<std::string> plain;
  std::string name, value;
  bool inlineValue = false;
  while (walker.next(name, value, inlineValue)) {
    if (name.empty()) {
      if (value.empty()) return "an empty argument names no file";
      plain.push_back(value);
      continue;
    }
    if (name != "-o" && name != "--output" && name != "--slope" && name != "--offset" && name != "--power" &&
        name != "--saturation" && name != "--depth")
      return "unknown option '" + name + "'";
    if (!inlineValue && !walker.takeValue(value)) return "option '" + name + "' needs a value";
    if (name == "-o" || name == "--output") {
      o.output = value;
    } else if (name == "--slope" || name == "--offset" || name == "--power") {
      // Bounded, so that every result is a finite number.
      const GradeRange &range = name == "--slope" ? kSlopeRange : name == "--offset" ? kOffsetRange : kPowerRange;
      double *target = name == "--slope" ? o.slope : name == "--offset" ? o.offset : o.power;
      if (!parseTriple(value, target) || !inRange(range, target[0]) || !inRange(range, target[1]) ||
          !inRange(range, target[2]))
        return badValue(name, value, "R,G,B or one number, " + rangeText(range));
    } else if (name == "--saturation") {
      if (!parseNumber(value, o.saturation) || !inRange(kSaturationRange, o.saturation))
        return badValue(name, value, "a number " + rangeText(kSaturationRange));
    } else if (name == "--depth") {
      if (!parseDepth(value, o.depth)) return badValue(name, value, "use 8, 16, half or float");
      o.depthGiven = true;
    }
  }
  if (plain.size() != 1) return plain.empty() ? "grade needs an INPUT image" : "unexpected argument '" + plain[1] + "'";
  o.input = plain[0];
  if (o.output.empty()) return "grade needs an output file: -o OUTPUT";
  return std::string();
}

std::string parseDescribeOptions(const std::vector<std::string> &args, DescribeOptions &o) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--plugin" && i + 1 < args.size() && !args[i + 1].empty()) {
      o.plugin = args[++i];
    } else if (args[i].compare(0, 9, "--plugin=") == 0 && args[i].size() > 9) {
      o.plugin = args[i].substr(9);
    } else if (args[i] == "--verbose" || args[i] == "-v") {
      o.verbose = true;
    } else {
      return args[i] == "--plugin" ? "option '--plugin' needs a value" : "unknown option '" + args[i] + "'";
    }
  }
  return std::string();
}

}  // namespace tbcli
