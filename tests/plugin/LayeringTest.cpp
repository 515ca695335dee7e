// The layers of the module: lut/ uses nothing of ours below it; match/ and
// export/ use lut/ only; none of them sees plugin/ or ofx/.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// The folders a layer's files may include from.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"lut", {"lut"}},
    {"match", {"lut", "match"}},
    {"export", {"lut", "export"}},
};

TEST(Layering, LowerLayersIncludeOnlyThemselvesAndThoseBelow) {
  int files = 0;
  for (const auto &layer : kAllowed) {
    const fs::path folder = fs::path(TINTBRIDGE_SOURCE_DIR) / layer.first;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    for (const auto &entry : fs::directory_iterator(folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      ++files;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        const size_t at = line.find("#include \"");
        if (at == std::string::npos) continue;
        const std::string target = line.substr(at + 10, line.find('"', at + 10) - (at + 10));
        const std::string from = target.substr(0, target.find('/'));
        EXPECT_TRUE(target.find('/') != std::string::npos && layer.second.count(from) == 1)
            << entry.path().string() << ":" << number << " includes \"" << target << "\"";
      }
    }
  }
  EXPECT_GT(files, 20);
}

}  // namespace

#endif
