// What `tintbridge match` works on: the names of its files as frame
// patterns, the frames, the plug-in session, the files being written, and
// the inputs held between frames.
#ifndef TINTBRIDGE_CLI_MATCH_JOB_H
#define TINTBRIDGE_CLI_MATCH_JOB_H

#include <memory>
#include <string>
#include <vector>

#include "cli/FramePattern.h"
#include "cli/ImageFile.h"
#include "cli/Options.h"
#include "cli/OutputFiles.h"
#include "cli/PluginSession.h"

namespace tbcli {

// A mask clip and its file: the matte as read, and the clip image made of
// it at its picture's size.
struct MaskInput {
  MaskInput(const std::string &name, bool sequence, const char *clipName) : pattern(name, sequence), clip(clipName) {}

  FramePattern pattern;
  const char *clip;
  Matte matte;
  std::shared_ptr<tbhost::Image> image;
};

struct MatchJob {
  explicit MatchJob(const MatchOptions &options);

  const MatchOptions &o;
  FramePattern source, reference, output, compare;
  FramePattern cube, cdl;  // always stills
  MaskInput sourceMask, referenceMask;
  bool sequence;
  std::vector<int> frames;
  PluginSession plugin;
  int threads = 1;
  OutputFiles files;
  std::shared_ptr<tbhost::Image> referenceImage;  // of the frame being matched
  int referenceOrientation = 1;
  std::vector<std::string> notes;  // the plug-in's messages, for once the files are in place
  std::string step;                // what is under way, to name the file when memory runs out
};

// The checks made before anything is read or written: every output can be
// written, every input is there, and no output is an input or another
// output. "" when all pass, else the message for the user.
std::string checkMatchJob(const MatchJob &job);

}  // namespace tbcli

#endif
