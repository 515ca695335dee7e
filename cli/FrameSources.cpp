// The clips' images of the frames other than the one being matched, read
// on demand when the plug-in analyses several frames.
#include <cmath>
#include <new>

#include "cli/MatchJob.h"
#include "plugin/Names.h"

namespace tbcli {

namespace {

using ImagePointer = std::shared_ptr<tbhost::Image>;

// The frame of the job at `time`; false for any other time.
bool frameAt(const MatchJob &job, double time, int &frame) {
  if (!(time >= job.frames.front() && time <= job.frames.back()) || std::floor(time) != time) return false;
  frame = static_cast<int>(time);
  return true;
}

void noteFailure(MatchJob &job, const std::string &message) {
  std::lock_guard<std::mutex> lock(job.failureMutex);
  if (job.providerFailure.empty()) job.providerFailure = message;
}

// Runs `make` for the file `path`; a failure or an exception is noted and
// gives no image. Nothing is thrown back into the host.
template <typename Make>
ImagePointer provided(MatchJob &job, const std::string &path, Make make) {
  std::string error;
  try {
    ImagePointer image = make(error);
    if (image) return image;
  } catch (const std::bad_alloc &) {
    error = "cannot read image '" + path + "': not enough memory";
  } catch (const std::exception &e) {
    error = "cannot read image '" + path + "': " + e.what();
  }
  noteFailure(job, error);
  return nullptr;
}

tbhost::Instance::ImageProvider pictureProvider(MatchJob &job, const FramePattern &pattern) {
  return [&job, &pattern](double time) -> ImagePointer {
    int frame = 0;
    if (!frameAt(job, time, frame)) return nullptr;
    const std::string path = pattern.path(frame);
    return provided(job, path, [&](std::string &error) -> ImagePointer {
      Picture picture;
      return readInput(path, picture, error) ? toHostImage(picture) : nullptr;
    });
  };
}

// A mask at the size of the picture it belongs to at that time, as the
// frame being matched has it.
tbhost::Instance::ImageProvider maskProvider(MatchJob &job, MaskInput &mask) {
  const bool ofSource = &mask == &job.sourceMask;
  return [&job, &mask, ofSource](double time) -> ImagePointer {
    int frame = 0;
    if (!frameAt(job, time, frame)) return nullptr;
    const std::string path = mask.pattern.path(frame);
    return provided(job, path, [&](std::string &error) -> ImagePointer {
      int width = 0, height = 0;
      if (ofSource || job.reference.isSequence()) {
        const FramePattern &owner = ofSource ? job.source : job.reference;
        if (!readInputSize(owner.path(frame), width, height, error)) return nullptr;
      } else {
        width = job.referenceImage->width();
        height = job.referenceImage->height();
      }
      if (!mask.pattern.isSequence()) {
        // A still matte: the clip image made for the frame being matched
        // serves every frame of its size.
        if (mask.image && mask.image->width() == width && mask.image->height() == height) return mask.image;
        return toHostMask(scaledMatte(mask.matte, width, height));
      }
      Picture picture;
      if (!readInput(path, picture, error)) return nullptr;
      return toHostMask(scaledMatte(matteOf(picture), width, height));
    });
  };
}

}  // namespace

bool maskIsProvided(const MatchJob &job, const MaskInput &mask) {
  if (!job.sequence || mask.pattern.text().empty()) return false;
  return &mask == &job.sourceMask || job.reference.isSequence() || mask.pattern.isSequence();
}

void connectFrameSources(MatchJob &job) {
  tbhost::Instance &instance = job.plugin.instance;
  const double first = job.frames.front(), last = job.frames.back();
  for (const char *clip : {kClipSource, kClipReference, kClipSourceMask, kClipReferenceMask})
    instance.setFrameRange(clip, first, last);
  if (!job.sequence) return;
  instance.setImageProvider(kClipSource, pictureProvider(job, job.source));
  if (job.reference.isSequence()) instance.setImageProvider(kClipReference, pictureProvider(job, job.reference));
  for (MaskInput *mask : {&job.sourceMask, &job.referenceMask})
    if (maskIsProvided(job, *mask)) instance.setImageProvider(mask->clip, maskProvider(job, *mask));
}

std::string takeProviderFailure(MatchJob &job) {
  std::lock_guard<std::mutex> lock(job.failureMutex);
  std::string message;
  message.swap(job.providerFailure);
  return message;
}

}  // namespace tbcli
