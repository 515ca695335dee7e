// Both writers report failed writes, never leave a partial or temporary file,
// keep an earlier file on failure, and treat devices, pipes, folders and links
// correctly.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "ExportTestSupport.h"
#include "export/CdlValues.h"
#include "lut/MatchLut.h"

using namespace exporttest;

namespace {

const CdlValues kValues = {{1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 1.0f};

// Limits the size of files this process writes; writes beyond it fail with
// EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }
  bool ok() const { return ok_; }

 private:
  struct rlimit saved_;
  void (*oldHandler_)(int);
  bool ok_ = false;
};

bool isCharacterDevice(const char *path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISCHR(info.st_mode);
}

}  // namespace

TEST(WriteFailure, FileSizeLimitFailsBothWritersWithoutTrace) {
  TempDir dir;
  MatchLut lut;
  fillGrade(lut, 65);
  const std::string fresh = dir.file("fresh.cube");
  const std::string earlier = dir.file("earlier.cube");
  const std::string earlierCdl = dir.file("earlier.cdl");
  writeFile(earlier, "earlier cube\n");
  writeFile(earlierCdl, "earlier cdl\n");
  {
    FileSizeLimit limit(100000);  // well inside the 7 MB cube
    ASSERT_TRUE(limit.ok());
    EXPECT_FALSE(lut.writeCube(fresh.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_FALSE(lut.writeCube(earlier.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  }
  {
    FileSizeLimit limit(200);  // inside the 13-line CDL
    ASSERT_TRUE(limit.ok());
    EXPECT_FALSE(writeCdl(dir.file("fresh.cdl").c_str(), kValues));
    EXPECT_FALSE(writeCdl(earlierCdl.c_str(), kValues));
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"earlier.cdl", "earlier.cube"}));
  EXPECT_EQ(readFile(earlier), "earlier cube\n");
  EXPECT_EQ(readFile(earlierCdl), "earlier cdl\n");

  // Without the limit the same calls succeed and replace the earlier files.
  EXPECT_TRUE(lut.writeCube(earlier.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_TRUE(writeCdl(earlierCdl.c_str(), kValues));
  EXPECT_GT(readFile(earlier).size(), 7414875u);
  EXPECT_EQ(readFile(earlierCdl).substr(0, 5), "<?xml");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"earlier.cdl", "earlier.cube"}));
}

TEST(WriteFailure, FullDeviceIsReportedAndStaysADevice) {
  if (!isCharacterDevice("/dev/full")) GTEST_SKIP() << "no /dev/full";
  MatchLut lut;
  fillGrade(lut, 17);
  EXPECT_FALSE(lut.writeCube("/dev/full", 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_FALSE(writeCdl("/dev/full", kValues));
  EXPECT_TRUE(isCharacterDevice("/dev/full"));

  // A device that takes the data is written in place.
  if (isCharacterDevice("/dev/null")) {
    EXPECT_TRUE(lut.writeCube("/dev/null", 1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_TRUE(writeCdl("/dev/null", kValues));
    EXPECT_TRUE(isCharacterDevice("/dev/null"));
  }
}

TEST(WriteFailure, PipeIsWrittenInPlace) {
  TempDir dir;
  const std::string fifo = dir.file("pipe.cdl");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&]() { received = readFile(fifo); });
  EXPECT_TRUE(writeCdl(fifo.c_str(), kValues));
  reader.join();
  EXPECT_EQ(splitLines(received).size(), 13u);
  struct stat info;
  ASSERT_EQ(stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"pipe.cdl"});
}

TEST(WriteFailure, FolderIsRefused) {
  TempDir dir;
  MatchLut lut;
  fillGrade(lut, 5);
  EXPECT_FALSE(lut.writeCube(dir.str().c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_FALSE(writeCdl(dir.str().c_str(), kValues));
  EXPECT_FALSE(writeCdl((dir.str() + "/").c_str(), kValues));
  EXPECT_TRUE(std::filesystem::is_directory(dir.str()));
  EXPECT_TRUE(dir.names().empty());
}

TEST(WriteFailure, UnwritableFolderFails) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir dir;
  MatchLut lut;
  fillGrade(lut, 5);
  const std::string target = dir.file("look.cube");
  writeFile(target, "keep\n");
  ASSERT_EQ(chmod(dir.str().c_str(), 0555), 0);
  EXPECT_FALSE(lut.writeCube(target.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));
  EXPECT_FALSE(writeCdl(dir.file("look.cdl").c_str(), kValues));
  chmod(dir.str().c_str(), 0755);
  EXPECT_EQ(readFile(target), "keep\n");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"look.cube"});
}

TEST(WriteFailure, ReplacementKeepsLinksAndPermissions) {
  TempDir dir;
  MatchLut lut;
  fillGrade(lut, 5);
  const std::string real = dir.file("real.cube");
  const std::string link = dir.file("link.cube");
  writeFile(real, "old\n");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.cube", link.c_str()), 0);
  EXPECT_TRUE(lut.writeCube(link.c_str(), 1.0f, 1.0f, 1.0f, 1.0f));

  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(splitLines(readFile(real))[0], "TITLE \"Tintbridge LUT\"");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"link.cube", "real.cube"}));
}

TEST(WriteFailure, LongFileNameStillGetsATemporaryBesideIt) {
  // A name near the platform's limit must not fail because of the temporary name.
  TempDir dir;
  const std::string target = dir.file(std::string(250, 'n') + ".cdl");
  EXPECT_TRUE(writeCdl(target.c_str(), kValues));
  EXPECT_EQ(dir.names().size(), 1u);
  EXPECT_FALSE(writeCdl(dir.file(std::string(300, 'n') + ".cdl").c_str(), kValues));
  EXPECT_EQ(dir.names().size(), 1u);
}
