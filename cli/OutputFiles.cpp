#include "cli/OutputFiles.h"

#include <filesystem>

#include "cli/Platform.h"

namespace tbcli {

namespace fs = std::filesystem;

std::string folderOf(const std::string &path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

bool folderExists(const std::string &path) {
  std::error_code error;
  return fs::is_directory(folderOf(path), error);
}

std::string extensionOf(const std::string &path) { return fs::path(path).extension().string(); }

std::string FileIdentities::of(const std::string &path) {
  std::string key;
  if (fileKey(path, key)) return "file " + key;
  const std::string folder = folderOf(path);
  auto found = folders_.find(folder);
  if (found == folders_.end()) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) resolved = fs::absolute(folder, ec).lexically_normal();
    found = folders_.emplace(folder, resolved.string()).first;
  }
  return "path " + (fs::path(found->second) / fs::path(path).filename()).string();
}

OutputFiles::~OutputFiles() { discard(); }

std::string OutputFiles::reserve(const std::string &finalPath, const std::string &extension, std::string &error) {
  // A fresh file, so that no other file of that name is ever overwritten.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        ".tintbridge-" + std::to_string(processId()) + "-" + std::to_string(++counter_) + extension;
    const std::string temp = (fs::path(folderOf(finalPath)) / name).string();
    bool exists = false;
    std::string why;
    if (createNewFile(temp, exists, why)) {
      entries_.push_back({temp, finalPath});
      return temp;
    }
    if (!exists) {
      error = "cannot write '" + finalPath + "': " + why;
      return std::string();
    }
  }
  error = "cannot write '" + finalPath + "': no free temporary name in its folder";
  return std::string();
}

bool OutputFiles::commit(std::string &error) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    std::error_code ec;
    fs::rename(entries_[i].temp, entries_[i].final, ec);
    if (ec) {
      error = "cannot write '" + entries_[i].final + "': " + ec.message();
      entries_.erase(entries_.begin(), entries_.begin() + static_cast<long>(i));
      discard();
      return false;
    }
  }
  entries_.clear();
  return true;
}

void OutputFiles::discard() {
  for (const Entry &e : entries_) {
    std::error_code ec;
    fs::remove(e.temp, ec);
  }
  entries_.clear();
}

}  // namespace tbcli
