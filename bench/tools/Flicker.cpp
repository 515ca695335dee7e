// tintbridge-flicker: how much a matched camera pan flickers. Reads the
// frames of a pan whose window moves DX,DY pixels a frame and prints the mean
// CIEDE2000 between each frame and the next over the picture both show
// (pixel values taken as sRGB), then the mean over all pairs.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/DeltaE.h"
#include "cli/FramePattern.h"
#include "cli/ImageFile.h"

namespace {

const char *const kUsage =
    "usage: tintbridge-flicker [--step DX,DY] [--csv FILE] PATTERN --frames FIRST-LAST\n"
    "       tintbridge-flicker [--step DX,DY] [--csv FILE] FRAME FRAME...\n"
    "  --step DX,DY  how far the pan's window moves from one frame to the next, in\n"
    "                pixels (right and down; default 0,0): pixel (x, y) of a frame\n"
    "                is compared with pixel (x + DX, y + DY) of the one before\n"
    "  --csv FILE    also write the pairs as CSV: from,to,delta_e\n"
    "  --frames A-B  the frames of PATTERN (shot.%04d.png or shot.####.png)\n";

bool parseInt(const std::string &text, int &value) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < -100000 || v > 100000) return false;
  value = static_cast<int>(v);
  return true;
}

bool parseStep(const std::string &text, int &dx, int &dy) {
  const size_t comma = text.find(',');
  return comma != std::string::npos && parseInt(text.substr(0, comma), dx) && parseInt(text.substr(comma + 1), dy);
}

int usageError(const std::string &message) {
  std::cerr << "tintbridge-flicker: " << message << "\n" << kUsage;
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (const std::string problem = tbbench::deltaEProblem(); !problem.empty()) {
    std::cerr << "tintbridge-flicker: the colour difference is wrong: " << problem << "\n";
    return 3;
  }
  int dx = 0, dy = 0, first = 0, last = -1;
  bool framesGiven = false;
  std::string csvPath;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string &out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--step") {
      if (!value(v) || !parseStep(v, dx, dy)) return usageError("--step needs DX,DY in pixels, such as 4,0");
    } else if (arg == "--csv") {
      if (!value(csvPath) || csvPath.empty()) return usageError("--csv needs a file name");
    } else if (arg == "--frames") {
      if (!value(v) || !tbcli::parseFrameRange(v, first, last)) return usageError("--frames needs FIRST-LAST");
      framesGiven = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else {
      names.push_back(arg);
    }
  }

  std::vector<std::string> paths;
  std::vector<int> numbers;
  if (framesGiven) {
    const tbcli::FramePattern pattern(names.size() == 1 ? names[0] : std::string(), true);
    if (names.size() != 1 || !pattern.isSequence())
      return usageError("--frames needs one PATTERN with a frame number, such as pan.%04d.png");
    for (int f = first; f <= last; ++f) {
      paths.push_back(pattern.path(f));
      numbers.push_back(f);
    }
  } else {
    paths = names;
    for (size_t k = 0; k < paths.size(); ++k) numbers.push_back(static_cast<int>(k));
  }
  if (paths.size() < 2) return usageError("needs at least two frames");

  std::ofstream csv;
  if (!csvPath.empty()) {
    csv.open(csvPath);
    if (!csv) {
      std::cerr << "tintbridge-flicker: cannot write '" << csvPath << "'\n";
      return 2;
    }
    csv << "from,to,delta_e\n";
  }
  std::printf("%zu frames, window moving %d,%d px a frame; mean CIEDE2000 frame to frame:\n", paths.size(), dx, dy);
  tbbench::LabImage previous;
  double sum = 0.0, worst = -1.0;
  int worstAt = 0;
  for (size_t k = 0; k < paths.size(); ++k) {
    tbcli::Picture picture;
    std::string error;
    if (!tbcli::readInput(paths[k], picture, error)) {
      std::cerr << "tintbridge-flicker: " << error << "\n";
      return 2;
    }
    picture = tbcli::uprightPicture(picture);
    tbbench::LabImage frame =
        tbbench::labImageOf(picture.width, picture.height, picture.rgba.data(), std::ptrdiff_t{picture.width} * 4);
    if (k > 0) {
      const double d = tbbench::panDifference(previous, frame, dx, dy);
      if (d < 0.0) {
        std::cerr << "tintbridge-flicker: '" << paths[k] << "' and the frame before it "
                  << (previous.width != frame.width || previous.height != frame.height ? "differ in size"
                                                                                        : "share no pixels at this step")
                  << "\n";
        return 2;
      }
      std::printf("  %6d -> %-6d %8.4f\n", numbers[k - 1], numbers[k], d);
      if (csv) csv << numbers[k - 1] << ',' << numbers[k] << ',' << d << '\n';
      sum += d;
      if (d > worst) {
        worst = d;
        worstAt = static_cast<int>(k);
      }
    }
    previous = std::move(frame);
  }
  const size_t pairs = paths.size() - 1;
  std::printf("mean %.4f over %zu pairs (largest %.4f, %d -> %d)\n", sum / static_cast<double>(pairs), pairs, worst,
              numbers[worstAt - 1], numbers[worstAt]);
  if (csv) {
    csv.close();
    if (!csv) {
      std::cerr << "tintbridge-flicker: cannot write '" << csvPath << "'\n";
      return 2;
    }
  }
  return 0;
}
