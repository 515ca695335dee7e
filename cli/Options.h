// The command lines of `tintbridge match`, `grade` and `describe`, parsed and
// checked before anything is read or written.
#ifndef TINTBRIDGE_CLI_OPTIONS_H
#define TINTBRIDGE_CLI_OPTIONS_H

#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "plugin/Names.h"

namespace tbcli {

struct MatchOptions {
  std::string source;
  std::string reference;
  std::string output;
  int mode = 0;      // "matchMode": 0 Different Clips, 1 Same Frame
  int preserve = 0;  // "preserveMode": 0 nothing, 1 brightness, 2 colours
  double mix = 1.0;
  double mixRed = 1.0;
  double mixGreen = 1.0;
  double mixBlue = 1.0;
  std::string sourceMask;
  std::string referenceMask;
  std::string cube;
  std::string cdl;
  std::string compare;
  std::string plugin;
  int threads = 0;  // 0: one per processor
  bool framesGiven = false;
  int firstFrame = 0;
  int lastFrame = 0;
  bool depthGiven = false;
  FileDepth depth = FileDepth::Float;
  bool quiet = false;
  bool verbose = false;  // the plug-in's debug lines shown
  // Analysis over several frames: "analysis" 0 Every Frame, 1 Frame Range,
  // 2 Rolling Window; the range (by default the frames rendered), how many
  // frames of it are measured, and the window's half width.
  int analysis = 0;
  int analysisStart = 0;
  int analysisEnd = 0;
  int analysisFrames = kAnalysisFramesDefault;  // 1 to kAnalysisFramesMax
  int analysisWindow = kAnalysisWindowDefault;  // 1 to kAnalysisWindowMax
};

struct DescribeOptions {
  std::string plugin;
  bool verbose = false;
};

struct GradeOptions {
  std::string input;
  std::string output;
  double slope[3] = {1, 1, 1};
  double offset[3] = {0, 0, 0};
  double power[3] = {1, 1, 1};
  double saturation = 1.0;
  bool depthGiven = false;
  FileDepth depth = FileDepth::Float;
};

// Each returns "" on success, else the message for the user.
std::string parseMatchOptions(const std::vector<std::string> &args, MatchOptions &options);
std::string parseGradeOptions(const std::vector<std::string> &args, GradeOptions &options);
// `describe [--plugin BUNDLE] [--verbose]`.
std::string parseDescribeOptions(const std::vector<std::string> &args, DescribeOptions &options);

// The frames of a match: with --frames, the checks of the frame number
// patterns of SOURCE, OUTPUT and the other names, and the frame numbers to
// render; without, one frame, 0, of stills. "" on success, else the message
// for the user.
std::string planFrames(const MatchOptions &options, std::vector<int> &frames);

// "8", "16", "half", "float"; false for anything else.
bool parseDepth(const std::string &text, FileDepth &depth);
const char *depthLabel(FileDepth depth);

// Texts of the choices, as the plug-in labels them.
const char *modeLabel(int mode);
const char *preserveLabel(int preserve);

}  // namespace tbcli

#endif
