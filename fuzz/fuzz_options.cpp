// Fuzz target: the command line of `tintbridge` (match, grade and describe)
// and the frame patterns, pure functions that touch no file.
//
// The first byte picks what is parsed; the rest are the arguments, split at
// zero bytes (or a name and frame numbers for a pattern).
//
// Invariants: whatever parses holds values in their documented ranges (mixes
// 0 to 1, threads 1 to 256, grade values within their bounds, frames in
// order, analysis frames 1 to 250 and window 1 to 100, an analysis range
// within the frames and never 0-0 in a longer sequence); a planned sequence has SOURCE and OUTPUT patterns, at most a
// million frames and fields of at most 31 digits; a still's name is its path
// for any frame; two frames of a sequence never share a file name; and a
// frame range that parses is ordered.
#include <string>
#include <vector>

#include "cli/FramePattern.h"
#include "cli/Options.h"
#include "fuzz/FuzzSupport.h"

using namespace fuzzsupport;

namespace {

std::vector<std::string> splitArguments(FuzzedDataProvider &fdp) {
  std::vector<std::string> args;
  const std::string rest = fdp.ConsumeRemainingBytesAsString();
  size_t start = 0;
  while (start <= rest.size() && args.size() < 64) {
    const size_t end = rest.find('\0', start);
    args.push_back(rest.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return args;
}

bool inUnit(double v) { return v >= 0.0 && v <= 1.0; }

void checkPattern(const std::string &name, bool sequence, int a, int b) {
  const tbcli::FramePattern p(name, sequence);
  FUZZ_CHECK(p.text() == name, "pattern text changed");
  if (!p.isSequence()) {
    FUZZ_CHECK(p.path(a) == name && p.path(b) == name, "a still's path is not its name");
    return;
  }
  FUZZ_CHECK(sequence, "'%s' is a pattern where none was asked for", name.c_str());
  if (p.width() <= tbcli::kMaxFrameDigits && a != b)
    FUZZ_CHECK(p.path(a) != p.path(b), "frames %d and %d of '%s' share a name", a, b, name.c_str());
}

void fuzzMatch(const std::vector<std::string> &args) {
  tbcli::MatchOptions o;
  if (!tbcli::parseMatchOptions(args, o).empty()) return;
  FUZZ_CHECK(!o.source.empty() && !o.reference.empty() && !o.output.empty(), "match without its files");
  FUZZ_CHECK(inUnit(o.mix) && inUnit(o.mixRed) && inUnit(o.mixGreen) && inUnit(o.mixBlue), "a mix out of range");
  FUZZ_CHECK(o.mode == 0 || o.mode == 1, "mode %d", o.mode);
  FUZZ_CHECK(o.preserve >= 0 && o.preserve <= 2, "preserve %d", o.preserve);
  FUZZ_CHECK(o.threads == 0 || (o.threads >= 1 && o.threads <= 256), "threads %d", o.threads);
  FUZZ_CHECK(!o.framesGiven || (o.firstFrame >= 0 && o.firstFrame <= o.lastFrame), "frames %d-%d", o.firstFrame,
             o.lastFrame);
  FUZZ_CHECK(o.analysis >= 0 && o.analysis <= 2, "analysis %d", o.analysis);
  FUZZ_CHECK(o.analysisFrames >= 1 && o.analysisFrames <= 250, "analysis frames %d", o.analysisFrames);
  FUZZ_CHECK(o.analysisWindow >= 1 && o.analysisWindow <= 100, "analysis window %d", o.analysisWindow);
  if (o.framesGiven)
    FUZZ_CHECK(o.firstFrame <= o.analysisStart && o.analysisStart <= o.analysisEnd && o.analysisEnd <= o.lastFrame &&
                   (o.analysisEnd > 0 || o.lastFrame == 0),
               "analysis range %d-%d for frames %d-%d", o.analysisStart, o.analysisEnd, o.firstFrame, o.lastFrame);
  else
    FUZZ_CHECK(o.analysisStart == 0 && o.analysisEnd == 0, "analysis range %d-%d of a still", o.analysisStart,
               o.analysisEnd);
  std::vector<int> frames;
  if (!tbcli::planFrames(o, frames).empty()) return;
  FUZZ_CHECK(!frames.empty() && frames.size() <= 1000000, "%zu frames", frames.size());
  const tbcli::FramePattern source(o.source, o.framesGiven), output(o.output, o.framesGiven);
  if (!o.framesGiven) {
    FUZZ_CHECK(frames.size() == 1 && !source.isSequence() && !output.isSequence(), "a still planned as a sequence");
    return;
  }
  FUZZ_CHECK(source.isSequence() && output.isSequence(), "a sequence without SOURCE and OUTPUT patterns");
  FUZZ_CHECK(frames.front() == o.firstFrame && frames.back() == o.lastFrame, "frames planned wrongly");
  for (const std::string *name : {&o.source, &o.reference, &o.output, &o.sourceMask, &o.referenceMask, &o.compare}) {
    const tbcli::FramePattern p(*name, true);
    FUZZ_CHECK(!p.isSequence() || p.width() <= tbcli::kMaxFrameDigits, "'%s' planned too wide", name->c_str());
    checkPattern(*name, true, frames.front(), frames.back());
  }
}

void fuzzGrade(const std::vector<std::string> &args) {
  tbcli::GradeOptions o;
  if (!tbcli::parseGradeOptions(args, o).empty()) return;
  FUZZ_CHECK(!o.input.empty() && !o.output.empty(), "grade without its files");
  for (int c = 0; c < 3; ++c) {
    FUZZ_CHECK(o.slope[c] >= 0 && o.slope[c] <= 100, "slope %g", o.slope[c]);
    FUZZ_CHECK(o.offset[c] >= -10 && o.offset[c] <= 10, "offset %g", o.offset[c]);
    FUZZ_CHECK(o.power[c] > 0 && o.power[c] <= 10, "power %g", o.power[c]);
  }
  FUZZ_CHECK(o.saturation >= 0 && o.saturation <= 10, "saturation %g", o.saturation);
}

void fuzzDescribe(const std::vector<std::string> &args) {
  tbcli::DescribeOptions o;
  if (!tbcli::parseDescribeOptions(args, o).empty()) return;
  bool named = o.plugin.empty();
  for (const std::string &a : args) named = named || a == o.plugin || a == "--plugin=" + o.plugin;
  FUZZ_CHECK(named, "describe took a bundle '%s' it was not given", o.plugin.c_str());
}

void fuzzPatterns(FuzzedDataProvider &fdp) {
  const bool sequence = fdp.ConsumeBool();
  const int a = fdp.ConsumeIntegralInRange<int>(0, 999999999);
  const int b = fdp.ConsumeIntegralInRange<int>(0, 999999999);
  const std::string range = fdp.ConsumeRandomLengthString(32);
  int first = -1, last = -1;
  if (tbcli::parseFrameRange(range, first, last))
    FUZZ_CHECK(first >= 0 && first <= last, "range '%s' gives %d-%d", range.c_str(), first, last);
  checkPattern(fdp.ConsumeRemainingBytesAsString(), sequence, a, b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      fuzzMatch(splitArguments(fdp));
      break;
    case 1:
      fuzzGrade(splitArguments(fdp));
      break;
    case 2:
      fuzzDescribe(splitArguments(fdp));
      break;
    default:
      fuzzPatterns(fdp);
      break;
  }
  return 0;
}
