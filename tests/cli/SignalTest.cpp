// SIGINT, SIGTERM and SIGHUP while a sequence renders or an export is being
// written: the command removes every temporary of the job, says what it
// left untouched and exits with 128 + the signal's number.
#if TINTBRIDGE_CLI_TESTS
#include "CliSupport.h"

#include <fcntl.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace clitest;

namespace {

class Interruption : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(frameName("s", 1), makePicture(320, 240, 1), OIIO::TypeDesc::UINT8, 3));
    ASSERT_TRUE(writeFile(dir / "ref.png", makePicture(40, 30, 4), OIIO::TypeDesc::UINT8, 3));
    // What an earlier run left.
    for (int f = 1; f <= 3; ++f) ASSERT_TRUE(writeFile(frameName("o", f), makePicture(4, 4, f), OIIO::TypeDesc::UINT8, 3));
    std::ofstream(dir / "look.cube") << "an earlier LUT\n";
  }

  std::string frameName(const char *stem, int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "%s.%04d.png", stem, frame);
    return dir / name;
  }

  // Starts the command, waits until `ready` holds, sends `signal` and
  // returns the exit status (1000 + the signal's number when it killed the
  // command); the command's error stream goes to `err`.
  int interrupt(const std::vector<std::string> &args, int signal, const std::function<bool()> &ready,
                std::string &err) {
    const std::string errPath = (fs::temp_directory_path() / ("tintbridge-cli-signal-" + std::to_string(::getpid())))
                                    .string();
    std::vector<std::string> all = {TINTBRIDGE_CLI_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int quiet = ::open("/dev/null", O_RDWR);
      const int errFile = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(quiet, 0);
      ::dup2(quiet, 1);
      ::dup2(errFile, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int raw = 0;
    bool sent = false;
    while (std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(pid, &raw, WNOHANG) == pid) break;
      if (!sent && ready()) {
        ::kill(pid, signal);
        sent = true;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!sent) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &raw, 0);
      ADD_FAILURE() << "the command finished before it could be interrupted";
    }
    err = slurp(errPath);
    fs::remove(errPath);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
  }

  bool hasFileStartingWith(const std::string &prefix) {
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir.path(), ec))
      if (e.path().filename().string().compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }

  static constexpr int kFrames = 60;
  ScratchDir dir;
};

TEST_F(Interruption, ASequenceStopsWithNothingWritten) {
  const struct {
    int signal;
    const char *name;
  } signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
  for (int f = 2; f <= kFrames; ++f)
    ASSERT_TRUE(writeFile(frameName("s", f), makePicture(320, 240, f), OIIO::TypeDesc::UINT8, 3));
  const auto before = folderContents(dir.path().string());
  for (const auto &s : signals) {
    std::string err;
    const int status = interrupt({"match", dir / "s.%04d.png", dir / "ref.png", "-o", dir / "o.%04d.png", "--frames",
                                  "1-" + std::to_string(kFrames), "--cube", dir / "look.cube"},
                                 s.signal, [&] { return hasFileStartingWith(".tintbridge-"); }, err);
    EXPECT_EQ(status, 128 + s.signal) << err;
    EXPECT_NE(err.find(std::string("interrupted by ") + s.name), std::string::npos) << err;
    EXPECT_NE(err.find("'" + (dir / "o.%04d.png") + "'"), std::string::npos) << err;
    EXPECT_EQ(folderContents(dir.path().string()), before) << s.name;
  }
}

TEST_F(Interruption, AnExportStopsWithNothingWritten) {
  const auto before = folderContents(dir.path().string());
  std::string err;
  // The plug-in's own temporary file shows that the export is under way.
  const int status = interrupt({"match", frameName("s", 1), dir / "ref.png", "-o", frameName("o", 1), "--cube",
                                dir / "look.cube", "--cdl", dir / "look.cdl"},
                               SIGTERM, [&] { return hasFileStartingWith(".Tintbridge-"); }, err);
  EXPECT_EQ(status, 128 + SIGTERM) << err;
  EXPECT_NE(err.find("interrupted by SIGTERM"), std::string::npos) << err;
  EXPECT_EQ(folderContents(dir.path().string()), before);
}

}  // namespace

#endif  // TINTBRIDGE_CLI_TESTS
