// What `tintbridge match` works on: the names of its files as frame
// patterns, the frames, the plug-in session, the files being written, and
// the inputs held between frames.
#ifndef TINTBRIDGE_CLI_MATCH_JOB_H
#define TINTBRIDGE_CLI_MATCH_JOB_H

#include <memory>
#include <mutex>
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
  // The first frame the clips' providers could not read, from whichever
  // thread the plug-in fetched it on.
  std::mutex failureMutex;
  std::string providerFailure;
};

// Every input clip's frame range is the job's frames. On a sequence the
// plug-in can fetch any of them: the images of the frame being matched are
// set for its time, and those of the other frames are read when the
// plug-in fetches them and dropped once it releases them. A still Reference
// is the same image at every time.
void connectFrameSources(MatchJob &job);
// Whether the mask's clip has a provider: then its image of the frame being
// matched is set for that frame's time only.
bool maskIsProvided(const MatchJob &job, const MaskInput &mask);
// The message for the first frame a provider could not read since the last
// call, "" when none.
std::string takeProviderFailure(MatchJob &job);

// The checks made before anything is read or written: every output can be
// written, every input is there, and no output is an input or another
// output. "" when all pass, else the message for the user.
std::string checkMatchJob(const MatchJob &job);

}  // namespace tbcli

#endif
