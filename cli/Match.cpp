// `tintbridge match`: the plug-in's colour match on stills and sequences, in
// steps: check the job, start the plug-in, read the stills, match each frame
// into temporary files, then export and put every file in place.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <thread>

#include "cli/Commands.h"
#include "cli/Compare.h"
#include "cli/FramePattern.h"
#include "cli/ImageFile.h"
#include "cli/MatchJob.h"
#include "cli/OutputFiles.h"
#include "cli/Platform.h"
#include "cli/PluginSession.h"
#include "cli/Progress.h"
#include "plugin/Names.h"

namespace tbcli {

namespace fs = std::filesystem;

MatchJob::MatchJob(const MatchOptions &options)
    : o(options), source(o.source, o.framesGiven), reference(o.reference, o.framesGiven),
      output(o.output, o.framesGiven), compare(o.compare, o.framesGiven), cube(o.cube, false), cdl(o.cdl, false),
      sourceMask(o.sourceMask, o.framesGiven, kClipSourceMask),
      referenceMask(o.referenceMask, o.framesGiven, kClipReferenceMask), sequence(source.isSequence()) {}

namespace {

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

bool startPlugin(MatchJob &job, std::string &error) {
  const MatchOptions &o = job.o;
  job.plugin.verbose = o.verbose;
  if (!openSession(o.plugin, true, job.plugin, error)) return false;
  tbhost::Instance &instance = job.plugin.instance;
  instance.setParam(kParamStrength, o.mix);
  instance.setParam(kParamStrengthR, o.mixRed);
  instance.setParam(kParamStrengthG, o.mixGreen);
  instance.setParam(kParamStrengthB, o.mixBlue);
  instance.setParam(kParamMatchMode, o.mode);
  instance.setParam(kParamPreserveMode, o.preserve);
  instance.setParam(kParamAnalysis, o.analysis);
  instance.setParam(kParamAnalysisStart, o.analysisStart);
  instance.setParam(kParamAnalysisEnd, o.analysisEnd);
  instance.setParam(kParamAnalysisFrames, o.analysisFrames);
  instance.setParam(kParamAnalysisWindow, o.analysisWindow);
  // An interruption also stops the plug-in between the frames it analyses.
  instance.setAbort([] { return interruption() != 0; });
  job.threads = o.threads;
  if (job.threads <= 0)
    job.threads = std::max(1, std::min(16, static_cast<int>(std::thread::hardware_concurrency())));
  return true;
}

// Reads the Reference of `frame` into its clip: a still once, for every
// time; a sequence frame by frame. Only the clip image keeps the pixels.
bool connectReference(MatchJob &job, int frame, std::string &error) {
  const std::string path = job.reference.path(frame);
  job.step = "cannot read image '" + path + "'";
  Picture picture;
  if (!readInput(path, picture, error)) return false;
  job.referenceImage = toHostImage(picture);
  job.referenceOrientation = picture.orientation;
  if (job.reference.isSequence())
    job.plugin.instance.setImage(kClipReference, frame, job.referenceImage);
  else
    job.plugin.instance.setImage(kClipReference, job.referenceImage);
  return true;
}

bool readMatte(MatchJob &job, MaskInput &mask, int frame, std::string &error) {
  const std::string path = mask.pattern.path(frame);
  job.step = "cannot read image '" + path + "'";
  Picture picture;
  if (!readInput(path, picture, error)) return false;
  mask.matte = matteOf(picture);
  mask.image.reset();
  return true;
}

// Connects a mask at the size of the picture it belongs to, scaled when the
// file has another size; a still mask made again only when that size
// changes, and connected again each frame when its clip has a provider.
void connectMask(MatchJob &job, MaskInput &mask, int frame, int width, int height) {
  if (mask.pattern.text().empty()) return;
  const bool provided = maskIsProvided(job, mask);
  if (mask.image && mask.image->width() == width && mask.image->height() == height && !provided) return;
  if (!mask.image || mask.image->width() != width || mask.image->height() != height)
    mask.image = toHostMask(scaledMatte(mask.matte, width, height));
  if (mask.pattern.isSequence() || provided)
    job.plugin.instance.setImage(mask.clip, frame, mask.image);
  else
    job.plugin.instance.setImage(mask.clip, mask.image);
}

// Stills are read once; sequences frame by frame.
bool readStills(MatchJob &job, std::string &error) {
  if (!job.reference.isSequence() && !connectReference(job, 0, error)) return false;
  for (MaskInput *mask : {&job.sourceMask, &job.referenceMask})
    if (!mask->pattern.text().empty() && !mask->pattern.isSequence() && !readMatte(job, *mask, 0, error))
      return false;
  return true;
}

// The Reference and the masks of `frame`, for a Source of width x height.
bool connectFrameInputs(MatchJob &job, int frame, int width, int height, std::string &error) {
  if (job.reference.isSequence() && !connectReference(job, frame, error)) return false;
  for (MaskInput *mask : {&job.sourceMask, &job.referenceMask})
    if (mask->pattern.isSequence() && !readMatte(job, *mask, frame, error)) return false;
  if (job.o.mode == 1 && (job.referenceImage->width() != width || job.referenceImage->height() != height)) {
    error = "Same Frame matches two grades of one picture, but SOURCE '" + job.source.path(frame) + "' is " +
            std::to_string(width) + " x " + std::to_string(height) + " and REFERENCE '" + job.reference.path(frame) +
            "' is " + std::to_string(job.referenceImage->width()) + " x " +
            std::to_string(job.referenceImage->height());
    return false;
  }
  connectMask(job, job.sourceMask, frame, width, height);
  connectMask(job, job.referenceMask, frame, job.referenceImage->width(), job.referenceImage->height());
  return true;
}

void disconnectFrameInputs(MatchJob &job) {
  tbhost::Instance &instance = job.plugin.instance;
  for (const char *clip : {kClipSource, kClipOutput}) instance.clearImages(clip);
  if (job.reference.isSequence()) instance.clearImages(kClipReference);
  for (MaskInput *mask : {&job.sourceMask, &job.referenceMask}) {
    if (!mask->pattern.isSequence() && !maskIsProvided(job, *mask)) continue;
    instance.clearImages(mask->clip);
    if (mask->pattern.isSequence()) mask->image.reset();
  }
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
  if (!connectFrameInputs(job, frame, source.width, source.height, error)) return false;
  instance.setImage(kClipSource, time, sourceImage);
  auto outputImage = tbhost::Image::rgbaFloat(source.width, source.height);
  instance.setImage(kClipOutput, time, outputImage);

  const OfxStatus status = renderFrame(job.plugin, time, source.width, source.height, job.threads);
  // A frame of the analysis that could not be read fails the job, whatever
  // the plug-in made of its absence.
  error = takeProviderFailure(job);
  if (!error.empty()) return false;
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
  {
    const auto quiet = quietPlugin(job.plugin);
    job.plugin.instance.destroy();
  }
  return kExitOk;
}

int runJob(MatchJob &job, std::ostream &out, std::ostream &err) {
  const MatchOptions &o = job.o;
  // Everything that can be checked is checked before any file is written.
  std::string error = planFrames(o, job.frames);
  if (error.empty()) error = checkMatchJob(job);
  if (!error.empty()) return fail(err, error);
  if (!startPlugin(job, error) || !readStills(job, error)) return fail(err, error);
  connectFrameSources(job);

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
