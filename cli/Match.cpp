// `tintbridge match`: the plug-in's colour match on stills and sequences, in
// steps: check the job, start the plug-in, connect the stills, match each
// frame, then export and put the files in place.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <new>
#include <set>
#include <thread>

#include "cli/Commands.h"
#include "cli/Compare.h"
#include "cli/FramePattern.h"
#include "cli/ImageFile.h"
#include "cli/OutputFiles.h"
#include "cli/Platform.h"
#include "cli/PluginSession.h"
#include "cli/Progress.h"
#include "plugin/Names.h"

namespace tbcli {

namespace fs = std::filesystem;

namespace {

struct MatchJob {
  explicit MatchJob(const MatchOptions &options)
      : o(options), source(o.source), reference(o.reference), output(o.output), sourceMask(o.sourceMask),
        referenceMask(o.referenceMask), compare(o.compare), sequence(source.isSequence()) {}

  const MatchOptions &o;
  FramePattern source, reference, output, sourceMask, referenceMask, compare;
  bool sequence;
  std::vector<int> frames;
  PluginSession plugin;
  int threads = 1;
  OutputFiles files;
  std::shared_ptr<tbhost::Image> referenceImage;  // of the frame being matched, for the comparison
  int referenceOrientation = 1;
  std::vector<std::string> notes;  // the plug-in's messages, for once the files are in place
  std::string step;  // what is under way, to name the file when memory runs out
  std::vector<std::string> notes_unused;  // the plug-in's messages, for once the files are in place
};

std::string fileNameOf(const std::string &path) { return fs::path(path).filename().string(); }

const char *preserveCaption(int preserve) {
  return preserve == 1 ? "keep brightness" : preserve == 2 ? "keep colors" : "full match";
}

std::string resultCaption(const MatchOptions &o) {
  std::string text = std::string("Result: ") + modeLabel(o.mode) + ", " + preserveCaption(o.preserve);
  if (o.mix != 1.0) {
    char mix[32];
    std::snprintf(mix, sizeof mix, ", mix %.2f", o.mix);
    text += mix;
  }
  return text;
}

// Source | Reference | Result of `frame`, from the clip images, into a
// temporary file of the job.
bool writeComparison(MatchJob &job, int frame, const PictureView &source, const PictureView &result, int orientation,
                     std::string &error) {
  const std::string path = job.compare.path(frame);
  const Picture picture =
      makeComparison({{source, orientation, "Source: " + fileNameOf(job.source.path(frame))},
                      {viewOf(*job.referenceImage), job.referenceOrientation,
                       "Reference: " + fileNameOf(job.reference.path(frame))},
                      {result, orientation, resultCaption(job.o)}});
  const std::string temp = job.files.reserve(path, extensionOf(path), error);
  if (temp.empty()) return false;
  if (!writePicture(temp, path, picture, FileDepth::Uint8, error, 85)) {
    error = "cannot write '" + path + "': " + error;
    return false;
  }
  return true;
}

// Every output of every frame can be written: its folder is there, it is a
// file or nothing yet, and its format has a writer.
std::string checkOutputs(const MatchJob &job) {
  const FramePattern cube(job.o.cube), cdl(job.o.cdl);
  for (int frame : job.frames) {
    for (const FramePattern *p : {&job.output, &cube, &cdl, &job.compare}) {
      if (p->text().empty() || (frame != job.frames.front() && !p->isSequence())) continue;
      const std::string problem = checkOutputPath(p->path(frame));
      if (!problem.empty()) return problem;
    }
  }
  for (const FramePattern *p : {&job.output, &job.compare}) {
    if (!p->text().empty() && !canWriteFormat(p->path(job.frames.front())))
      return "no image format for the extension of '" + p->text() + "'";
  }
  return std::string();
}

// No output is an input or another output, whatever the spelling, for any
// frame: files are compared by what they are, not by their names.
std::string checkNameClashes(const MatchJob &job) {
  struct Named {
    const char *role;
    const FramePattern *pattern;
  };
  const Named inputs[] = {{"SOURCE", &job.source},
                          {"REFERENCE", &job.reference},
                          {"--source-mask", &job.sourceMask},
                          {"--reference-mask", &job.referenceMask}};
  const FramePattern cube(job.o.cube), cdl(job.o.cdl);
  const Named outputs[] = {{"OUTPUT", &job.output}, {"--compare", &job.compare}, {"--cube", &cube}, {"--cdl", &cdl}};
  FileIdentities identities;
  std::map<std::string, const Named *> inputFiles, outputFiles;
  std::set<std::string> seen;
  for (int frame : job.frames) {
    for (const Named &in : inputs) {
      if (in.pattern->text().empty()) continue;
      const std::string path = in.pattern->path(frame);
      if (seen.insert(path).second) inputFiles.emplace(identities.of(path), &in);
    }
  }
  for (int frame : job.frames) {
    for (const Named &out : outputs) {
      if (out.pattern->text().empty() || (frame != job.frames.front() && !out.pattern->isSequence())) continue;
      const std::string identity = identities.of(out.pattern->path(frame));
      auto input = inputFiles.find(identity);
      if (input != inputFiles.end())
        return out.role + std::string(" '") + out.pattern->text() + "' is the same file as " + input->second->role +
               " '" + input->second->pattern->text() + "': an output never replaces an input";
      auto other = outputFiles.emplace(identity, &out);
      if (!other.second)
        return out.role + std::string(" '") + out.pattern->text() + "' and " + other.first->second->role + " '" +
               other.first->second->pattern->text() + "' are the same file";
    }
  }
  return std::string();
}

// Every input file of every frame is there.
std::string checkInputs(const MatchJob &job) {
  std::set<std::string> checked;
  for (int frame : job.frames) {
    for (const FramePattern *p : {&job.source, &job.reference, &job.sourceMask, &job.referenceMask}) {
      if (p->text().empty()) continue;
      const std::string path = p->path(frame);
      if (!checked.insert(path).second) continue;
      std::error_code ec;
      if (!fs::is_regular_file(path, ec))
        return "cannot read image '" + path + "': " + (fs::exists(path, ec) ? "not a file" : "no such file");
    }
  }
  return std::string();
}

bool startPlugin(MatchJob &job, std::string &error) {
  const MatchOptions &o = job.o;
  if (!openSession(o.plugin, true, job.plugin, error)) return false;
  tbhost::Instance &instance = job.plugin.instance;
  instance.setParam(kParamStrength, o.mix);
  instance.setParam(kParamStrengthR, o.mixRed);
  instance.setParam(kParamStrengthG, o.mixGreen);
  instance.setParam(kParamStrengthB, o.mixBlue);
  instance.setParam(kParamMatchMode, o.mode);
  instance.setParam(kParamPreserveMode, o.preserve);
  job.threads = o.threads;
  if (job.threads <= 0)
    job.threads = std::max(1, std::min(16, static_cast<int>(std::thread::hardware_concurrency())));
  return true;
}

// Connects the file of `pattern` for `frame` to `clip`: for every time when
// `forEveryTime`, else at the frame's own time. Only the clip image keeps
// the pixels.
bool connectInput(MatchJob &job, const FramePattern &pattern, const char *clip, bool mask, int frame,
                  bool forEveryTime, std::string &error) {
  const std::string path = pattern.path(frame);
  job.step = "cannot read image '" + path + "'";
  Picture picture;
  if (!readInput(path, picture, error)) return false;
  const std::shared_ptr<tbhost::Image> image = mask ? toHostMask(picture) : toHostImage(picture);
  releasePixels(picture);
  if (forEveryTime)
    job.plugin.instance.setImage(clip, image);
  else
    job.plugin.instance.setImage(clip, job.sequence ? frame : 0.0, image);
  if (std::string(clip) == kClipReference) {
    job.referenceImage = image;
    job.referenceOrientation = picture.orientation;
  }
  return true;
}

struct InputClip {
  const FramePattern &pattern;
  const char *clip;
  bool mask;
};

std::vector<InputClip> inputClips(const MatchJob &job) {
  return {{job.reference, kClipReference, false},
          {job.sourceMask, kClipSourceMask, true},
          {job.referenceMask, kClipReferenceMask, true}};
}

// Stills go in once, for every time; sequences frame by frame.
bool connectStills(MatchJob &job, std::string &error) {
  for (const InputClip &in : inputClips(job)) {
    if (in.pattern.text().empty() || in.pattern.isSequence()) continue;
    if (!connectInput(job, in.pattern, in.clip, in.mask, 0, true, error)) return false;
  }
  return true;
}

bool connectFrameInputs(MatchJob &job, int frame, std::string &error) {
  for (const InputClip &in : inputClips(job)) {
    if (!in.pattern.isSequence()) continue;
    if (!connectInput(job, in.pattern, in.clip, in.mask, frame, false, error)) return false;
  }
  return true;
}

void disconnectFrameInputs(MatchJob &job) {
  tbhost::Instance &instance = job.plugin.instance;
  for (const char *clip : {kClipSource, kClipOutput}) instance.clearImages(clip);
  if (job.reference.isSequence()) instance.clearImages(kClipReference);
  if (job.sourceMask.isSequence()) instance.clearImages(kClipSourceMask);
  if (job.referenceMask.isSequence()) instance.clearImages(kClipReferenceMask);
}

// Renders one frame and writes its output (and the comparison, when this
// frame has one) to temporary files. At most the Source and Output clip
// images of the frame are held at once. False with the message in `error`.
bool matchFrame(MatchJob &job, int frame, std::ostream &out, std::ostream &err, std::string &error) {
  const MatchOptions &o = job.o;
  tbhost::Instance &instance = job.plugin.instance;
  const double time = job.sequence ? frame : 0.0;
  const std::string sourcePath = job.source.path(frame);
  job.step = "cannot read image '" + sourcePath + "'";
  Picture source;  // what is known of the file; its pixels go to the clip image
  if (!readInput(sourcePath, source, error)) return false;
  job.step = "cannot match '" + sourcePath + "'";
  std::shared_ptr<tbhost::Image> sourceImage = toHostImage(source);
  releasePixels(source);
  if (!connectFrameInputs(job, frame, error)) return false;
  job.step = "cannot match '" + sourcePath + "'";
  instance.setImage(kClipSource, time, sourceImage);
  auto outputImage = tbhost::Image::rgbaFloat(source.width, source.height);
  instance.setImage(kClipOutput, time, outputImage);

  const OfxStatus status = renderFrame(instance, time, source.width, source.height, job.threads);
  if (status != kOfxStatOK) {
    error = "the plug-in failed to render " + (job.sequence ? "frame " + std::to_string(frame) : "the picture") +
            " (status " + std::to_string(status) + ")";
    return false;
  }
  // Anything the plug-in said while rendering is passed on too.
  passOnMessages(job.plugin, out, err);
  const bool compared = job.compare.isSequence() || (!o.compare.empty() && frame == job.frames.back());
  if (compared && !writeComparison(job, frame, viewOf(*sourceImage), viewOf(*outputImage), source.orientation, error))
    return false;
  instance.clearImages(kClipSource);
  sourceImage.reset();

  Picture result = source;  // the file's alpha and orientation, the depth asked for
  result.depth = o.depthGiven ? o.depth : source.depth;
  // A 10- or 12-bit source stays so, unless another depth was asked for.
  if (o.depthGiven) result.bitsPerSample = 0;
  const std::string outputPath = job.output.path(frame);
  job.step = "cannot write '" + outputPath + "'";
  const std::string temp = job.files.reserve(outputPath, extensionOf(outputPath), error);
  if (temp.empty()) return false;
  if (!writePicture(temp, outputPath, result, viewOf(*outputImage), result.depth, error)) {
    error = "cannot write '" + outputPath + "': " + error;
    return false;
  }
  disconnectFrameInputs(job);
  return true;
}

// After an interruption: every temporary removed, the outputs named.
int stopped(MatchJob &job, std::ostream &err) {
  job.files.discard();
  std::vector<std::string> untouched;
  for (const std::string *name : {&job.o.output, &job.o.compare, &job.o.cube, &job.o.cdl})
    if (!name->empty()) untouched.push_back(*name);
  return interrupted(err, untouched);
}

// Presses an export button into a temporary file of the job.
bool exportTo(MatchJob &job, const std::string &path, const char *extension, const char *button,
              std::string &error) {
  if (path.empty()) return true;
  job.step = "cannot write '" + path + "'";
  const std::string temp = job.files.reserve(path, extension, error);
  return !temp.empty() && pressExport(job.plugin, button, temp, path, job.notes, error);
}

// The exports hold the match of the last frame rendered. Only once every
// file of the job is written does any go in place, and only then is any
// said to be saved.
int finishJob(MatchJob &job, std::ostream &out, std::ostream &err) {
  const MatchOptions &o = job.o;
  std::string error;
  const bool written = exportTo(job, o.cube, ".cube", kParamExportButton, error) && interruption() == 0 &&
                       exportTo(job, o.cdl, ".cdl", kParamExportCdlButton, error);
  // Past this point the job is finished even if interrupted.
  if (interruption() != 0) return stopped(job, err);
  if (!written || !job.files.commit(error)) return fail(err, error);
  for (const std::string &note : job.notes) out << note << "\n";
  if (job.sequence)
    out << "wrote " << job.frames.size() << " frame" << (job.frames.size() == 1 ? "" : "s") << " of " << o.output
        << "\n";
  else
    out << "wrote " << o.output << "\n";
  if (!o.compare.empty() && !job.compare.isSequence()) out << "wrote " << o.compare << "\n";
  job.plugin.instance.destroy();
  return kExitOk;
}

int runJob(MatchJob &job, std::ostream &out, std::ostream &err) {
  const MatchOptions &o = job.o;
  // Everything that can be checked is checked before any file is written.
  std::string error = planFrames(o, job.frames);
  if (error.empty()) error = checkOutputs(job);
  if (error.empty()) error = checkInputs(job);
  if (error.empty()) error = checkNameClashes(job);
  if (!error.empty()) return fail(err, error);
  if (!startPlugin(job, error) || !connectStills(job, error)) return fail(err, error);

  Progress progress(err, job.frames.size(), job.sequence && &err == &std::cerr && stderrIsTerminal(),
                    o.quiet || !job.sequence);
  for (int frame : job.frames) {
    const bool matched = interruption() == 0 && matchFrame(job, frame, out, err, error);
    if (!matched || interruption() != 0) {
      progress.interrupt();
      return interruption() != 0 ? stopped(job, err) : fail(err, error);
    }
    progress.frameDone(frame, job.output.path(frame));
  }
  return finishJob(job, out, err);
}

}  // namespace

int runMatch(const MatchOptions &o, std::ostream &out, std::ostream &err) {
  MatchJob job(o);
  try {
    return runJob(job, out, err);
  } catch (const std::bad_alloc &) {
    return fail(err, (job.step.empty() ? std::string("cannot match") : job.step) + ": not enough memory");
  } catch (const std::exception &e) {
    return fail(err, (job.step.empty() ? std::string("cannot match") : job.step) + ": " + e.what());
  }
}

}  // namespace tbcli
