// Memory: the size guard counts pixels at the four floats each is held as,
// a frame needs about its Source and Output clip images and no more, and
// running out of memory is a message and status 2.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

#include <fcntl.h>
#include <sys/resource.h>

using namespace clitest;

namespace {

// A grey PGM of width x height; only its header when `headerOnly`.
void writeGrey(const std::string &path, int width, int height, bool headerOnly) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << width << " " << height << "\n255\n";
  if (headerOnly) return;
  std::string row(static_cast<size_t>(width), '\0');
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[static_cast<size_t>(x)] = static_cast<char>((x * 7 + y * 13) & 0xff);
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

// The most memory the command held while running `args`, in kilobytes.
long peakKilobytes(const std::vector<std::string> &args) {
  std::vector<std::string> all = {TINTBRIDGE_CLI_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int quiet = ::open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) ::dup2(quiet, fd);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage;
  ::wait4(pid, &status, 0, &usage);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[1];
  return usage.ru_maxrss;
}

class Memory : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(40, 30, 4), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "out.png", makePicture(4, 4, 1), OIIO::TypeDesc::UINT8, 3));
  }

  void expectRefused(const std::vector<std::string> &args, const std::string &message,
                     const std::string &shell = std::string()) {
    const auto before = folderContents(dir.path().string());
    const RunResult r = runTool(args, TINTBRIDGE_CLI_BINARY, shell);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(folderContents(dir.path().string()), before);
  }

  ScratchDir dir;
};

TEST_F(Memory, OneChannelPicturesAreGuardedAtFourChannels) {
  // 400 million pixels: within the guard as one channel, not as four.
  writeGrey(dir / "huge.pgm", 20000, 20000, true);
  for (const char *command : {"match", "grade"}) {
    std::vector<std::string> args = {command, dir / "huge.pgm", dir / "ref.png", "-o", dir / "out.png"};
    if (std::string(command) == "grade") args.erase(args.begin() + 2);
    expectRefused(args, "cannot read image '" + (dir / "huge.pgm") + "': image too large");
  }
}

TEST_F(Memory, RunningOutOfMemoryIsAMessage) {
  // One gigabyte a clip image, under a limit of about that much in all.
  writeGrey(dir / "big.pgm", 8000, 8000, false);
  expectRefused({"match", dir / "big.pgm", dir / "ref.png", "-o", dir / "out.png"},
                "cannot read image '" + (dir / "big.pgm") + "': not enough memory", "ulimit -v 1200000; ");
}

TEST_F(Memory, AFrameHoldsAboutItsSourceAndOutputImages) {
  writeGrey(dir / "small.pgm", 16, 16, false);
  writeGrey(dir / "grey.pgm", 2000, 2000, false);
  const long base = peakKilobytes({"match", dir / "small.pgm", dir / "ref.png", "-o", dir / "small.png"});
  const long peak = peakKilobytes({"match", dir / "grey.pgm", dir / "ref.png", "-o", dir / "grey.png"});
  const long clipImage = 2000L * 2000 * 4 * sizeof(float) / 1024;
  EXPECT_LT(peak - base, 2.75 * clipImage) << "base " << base << " kB, peak " << peak << " kB";
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
