// A fresh folder below the system temp folder for one test, removed with
// everything in it (write permission restored first).
#ifndef TINTBRIDGE_TESTS_SCRATCH_FOLDER_H
#define TINTBRIDGE_TESTS_SCRATCH_FOLDER_H

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define TINTBRIDGE_TEST_PID _getpid()
#else
#include <unistd.h>
#define TINTBRIDGE_TEST_PID getpid()
#endif

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string &prefix = "tintbridge-test") {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(TINTBRIDGE_TEST_PID) + "-" + std::to_string(counter++));
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_, ec);
  }
  ~ScratchFolder() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;

  const std::filesystem::path &path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string file(const std::string &name) const { return (path_ / name).string(); }
  std::string operator/(const std::string &name) const { return file(name); }

  // Names directly in the folder, sorted.
  std::vector<std::string> names() const { return list(false); }
  // Names anywhere below it, sorted.
  std::vector<std::string> allNames() const { return list(true); }

 private:
  std::vector<std::string> list(bool recursive) const {
    std::vector<std::string> out;
    std::error_code ec;
    if (recursive) {
      for (const auto &e : std::filesystem::recursive_directory_iterator(path_, ec))
        out.push_back(e.path().filename().string());
    } else {
      for (const auto &e : std::filesystem::directory_iterator(path_, ec)) out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::filesystem::path path_;
};

#endif
