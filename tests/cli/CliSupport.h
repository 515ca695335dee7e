// Helpers for the end-to-end tests of the tintbridge command: scratch
// folders, running the command, image files written and read with
// OpenImageIO, and the same match rendered through the headless host.
#ifndef TINTBRIDGE_TESTS_CLI_CLI_SUPPORT_H
#define TINTBRIDGE_TESTS_CLI_CLI_SUPPORT_H

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/Host.h"

namespace clitest {

namespace fs = std::filesystem;

// Pixels top row first, four floats a pixel.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 4;  // of the file
  OIIO::TypeDesc format = OIIO::TypeDesc::FLOAT;
  std::vector<float> rgba;
  float *at(int x, int y) { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const float *at(int x, int y) const { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// A picture of smooth colour ramps with some texture, seeded so that
// different seeds give different colour statistics.
inline Pixels makePicture(int width, int height, int seed) {
  Pixels p;
  p.width = width;
  p.height = height;
  p.rgba.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      float *q = p.at(x, y);
      const float u = (x + 0.5f) / width, v = (y + 0.5f) / height;
      const float t = 0.5f + 0.5f * std::sin(0.7f * x + 1.3f * y + seed);
      q[0] = std::fmod(0.15f + 0.6f * u + 0.1f * t + 0.07f * seed, 1.0f);
      q[1] = std::fmod(0.1f + 0.5f * v + 0.2f * t * (seed % 3) / 2.0f, 1.0f);
      q[2] = std::fmod(0.3f + 0.4f * u * v + 0.13f * seed, 1.0f);
      q[3] = 1.0f;
    }
  return p;
}

class ScratchDir {
 public:
  // `suffix` tells apart several folders of one test.
  explicit ScratchDir(const std::string &suffix = std::string()) {
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("tintbridge-cli-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
             std::to_string(::getpid()) + suffix);
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }
  const fs::path &path() const { return path_; }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

inline bool writeFile(const std::string &path, const Pixels &p, OIIO::TypeDesc format, int channels) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) return false;
  OIIO::ImageSpec spec(p.width, p.height, channels, format);
  if (channels == 4) spec.alpha_channel = 3;
  spec.attribute("oiio:UnassociatedAlpha", 1);
  if (!out->open(path, spec)) return false;
  std::vector<float> packed;
  for (size_t i = 0; i < p.rgba.size(); i += 4)
    for (int c = 0; c < channels; ++c) packed.push_back(p.rgba[i + static_cast<size_t>(c)]);
  return out->write_image(OIIO::TypeDesc::FLOAT, packed.data()) && out->close();
}

// Reads any file; grey and RGB become RGBA as the command takes them.
inline Pixels readFile(const std::string &path) {
  Pixels p;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path << ": " << OIIO::geterror();
    return p;
  }
  const OIIO::ImageSpec &spec = in->spec();
  p.width = spec.width;
  p.height = spec.height;
  p.channels = spec.nchannels;
  p.format = spec.format;
  std::vector<float> raw(static_cast<size_t>(spec.width) * spec.height * spec.nchannels);
  in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, raw.data());
  p.rgba.resize(static_cast<size_t>(spec.width) * spec.height * 4);
  for (size_t i = 0; i < static_cast<size_t>(spec.width) * spec.height; ++i) {
    const float *s = raw.data() + i * spec.nchannels;
    float *d = p.rgba.data() + i * 4;
    const int n = spec.nchannels;
    d[0] = s[0];
    d[1] = n >= 3 ? s[1] : s[0];
    d[2] = n >= 3 ? s[2] : s[0];
    d[3] = n == 2 ? s[1] : n >= 4 ? s[3] : 1.0f;
  }
  return p;
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the command with `args`; its output streams go to files outside the
// scratch folders, so that they never show up in a folder listing. `shell`
// runs before it in the same shell (a limit, a change of folder).
inline RunResult runTool(const std::vector<std::string> &args, const std::string &binary = TINTBRIDGE_CLI_BINARY,
                         const std::string &shell = std::string()) {
  static int counter = 0;
  const std::string base = (fs::temp_directory_path() / ("tintbridge-cli-run-" + std::to_string(::getpid()) + "-" +
                                                         std::to_string(++counter)))
                               .string();
  std::string command = shell + quote(binary);
  for (const std::string &a : args) command += " " + quote(a);
  command += " >" + quote(base + ".out") + " 2>" + quote(base + ".err") + " </dev/null";
  RunResult r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(base + ".out");
  r.err = slurp(base + ".err");
  fs::remove(base + ".out");
  fs::remove(base + ".err");
  return r;
}

// Size and a digest of the bytes of every file in a folder, by name: to show
// that nothing changed.
inline std::map<std::string, std::string> folderContents(const std::string &folder) {
  std::map<std::string, std::string> out;
  for (const auto &e : fs::directory_iterator(folder)) {
    std::string &entry = out[e.path().filename().string()];
    std::error_code ec;
    if (!fs::is_regular_file(e.path(), ec)) {
      entry = "not a file";
      continue;
    }
    const std::string bytes = slurp(e.path().string());
    entry = std::to_string(bytes.size()) + " bytes, digest " + std::to_string(std::hash<std::string>()(bytes));
  }
  return out;
}

// A small file system of its own: a tmpfs mounted on `folder` where this
// process may mount one (as root), unmounted at the end. Elsewhere the
// folder is an ordinary one and `limit()` gives a shell prefix that caps the
// size of any file the command writes instead.
class SmallDisk {
 public:
  SmallDisk(const std::string &folder, int kilobytes) : folder_(folder) {
    fs::create_directories(folder);
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    mounted_ = ::mount("tintbridge-test", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk &) = delete;
  SmallDisk &operator=(const SmallDisk &) = delete;

  bool mounted() const { return mounted_; }
  // Takes all but about `leave` bytes of the disk.
  void fill(size_t leave) {
    if (!mounted_) return;
    const std::string filler = folder_ + "/filler";
    FILE *f = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::vector<char> block(4096, 'x');
    size_t size = 0;
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) size += block.size();
    std::fclose(f);
    fs::resize_file(filler, size > leave ? size - leave : 0);
  }
  // No file can be made on it any more: remounted read-only, or where it is
  // not mounted, its folder without write permission. False where neither
  // stops this process (root without a mount of its own).
  bool makeReadOnly() {
    if (mounted_) return ::mount("tintbridge-test", folder_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    return ::geteuid() != 0;
  }
  // With a mounted disk nothing; else a size limit of `leave` bytes for the
  // command's files.
  std::string limit(size_t leave) const {
    return mounted_ ? std::string() : "trap '' XFSZ; ulimit -f " + std::to_string(leave / 512) + "; ";
  }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Float RGBA clip images with OFX's bottom-up rows.
inline std::shared_ptr<tbhost::Image> toHost(const Pixels &p) {
  auto image = tbhost::Image::rgbaFloat(p.width, p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < 4; ++c) image->set(x, p.height - 1 - y, c, p.at(x, y)[c]);
  return image;
}

inline std::shared_ptr<tbhost::Image> toHostMask(const Pixels &p) {
  auto image = tbhost::Image::create(tbhost::PixelDepth::Float, tbhost::Components::Alpha,
                                     OfxRectI{0, 0, p.width, p.height});
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) image->set(x, p.height - 1 - y, 0, p.at(x, y)[0]);
  return image;
}

inline Pixels fromHost(const tbhost::Image &image) {
  Pixels p;
  p.width = image.width();
  p.height = image.height();
  p.rgba.resize(static_cast<size_t>(p.width) * p.height * 4);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < 4; ++c) p.at(x, y)[c] = image.get(x, p.height - 1 - y, c);
  return p;
}

struct Settings {
  int mode = 0;
  int preserve = 0;
  double mix = 1, mixRed = 1, mixGreen = 1, mixBlue = 1;
};

inline void applySettings(tbhost::Instance &instance, const Settings &s) {
  instance.setParam("strength", s.mix);
  instance.setParam("strengthR", s.mixRed);
  instance.setParam("strengthG", s.mixGreen);
  instance.setParam("strengthB", s.mixBlue);
  instance.setParam("matchMode", s.mode);
  instance.setParam("preserveMode", s.preserve);
}

// Renders one frame through the headless host at `time`, on images read
// from files as any host would have them.
inline Pixels renderThroughHost(tbhost::Host &host, tbhost::Instance &instance, double time, const Pixels &source,
                                const Pixels &reference, const Pixels *sourceMask = nullptr) {
  instance.setImage("Source", time, toHost(source));
  instance.setImage("Reference", time, toHost(reference));
  if (sourceMask) instance.setImage("SourceMask", time, toHostMask(*sourceMask));
  auto output = tbhost::Image::rgbaFloat(source.width, source.height);
  instance.setImage("Output", time, output);
  EXPECT_EQ(instance.render(time, OfxRectI{0, 0, source.width, source.height}), kOfxStatOK) << host.lastError();
  return fromHost(*output);
}

inline void expectSamePixels(const Pixels &a, const Pixels &b, const std::string &what) {
  ASSERT_EQ(a.width, b.width) << what;
  ASSERT_EQ(a.height, b.height) << what;
  size_t differences = 0;
  for (size_t i = 0; i < a.rgba.size(); ++i)
    if (!(a.rgba[i] == b.rgba[i])) ++differences;
  EXPECT_EQ(differences, 0u) << what;
}

}  // namespace clitest

#endif
