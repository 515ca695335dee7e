// `tintbridge grade`: an ASC CDL grade on a picture, to make test material.
#include <cmath>
#include <limits>
#include <new>
#include <ostream>

#include "cli/Commands.h"
#include "cli/ImageFile.h"
#include "cli/OutputFiles.h"
#include "cli/Platform.h"

namespace tbcli {

namespace {

// Within the range of a float, for a picture of very bright values.
float toFloat(double v) {
  const double limit = std::numeric_limits<float>::max();
  return static_cast<float>(v > limit ? limit : v < -limit ? -limit : v);
}

}  // namespace

void applyGrade(const GradeOptions &g, float rgb[3]) {
  for (int c = 0; c < 3; ++c) {
    double v = rgb[c] * g.slope[c] + g.offset[c];
    v = v > 0.0 ? std::pow(v, g.power[c]) : 0.0;
    rgb[c] = toFloat(v);
  }
  const double luma = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
  for (int c = 0; c < 3; ++c) rgb[c] = toFloat(luma + g.saturation * (rgb[c] - luma));
}

int runGrade(const GradeOptions &o, std::ostream &out, std::ostream &err) {
  const std::string problem = checkOutputPath(o.output);
  if (!problem.empty()) return fail(err, problem);
  FileIdentities identities;
  if (identities.of(o.output) == identities.of(o.input))
    return fail(err, "OUTPUT '" + o.output + "' is the same file as INPUT '" + o.input +
                         "': an output never replaces an input");
  if (!canWriteFormat(o.output)) return fail(err, "no image format for the extension of '" + o.output + "'");
  Picture picture;
  std::string error;
  try {
    if (!readInput(o.input, picture, error)) return fail(err, error);
  } catch (const std::bad_alloc &) {
    return fail(err, "cannot read image '" + o.input + "': not enough memory");
  }
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) applyGrade(o, picture.pixel(x, y));
  OutputFiles files;
  const std::string temp = files.reserve(o.output, extensionOf(o.output), error);
  if (temp.empty()) return fail(err, error);
  if (o.depthGiven) picture.bitsPerSample = 0;
  try {
    if (!writePicture(temp, o.output, picture, o.depthGiven ? o.depth : picture.depth, error))
      return fail(err, "cannot write '" + o.output + "': " + error);
  } catch (const std::bad_alloc &) {
    return fail(err, "cannot write '" + o.output + "': not enough memory");
  }
  if (interruption() != 0) {
    files.discard();
    return interrupted(err, {o.output});
  }
  if (!files.commit(error)) return fail(err, error);
  out << "wrote " << o.output << "\n";
  return kExitOk;
}

}  // namespace tbcli
