#include "cli/OutputFiles.h"

#include <filesystem>

#include "cli/Platform.h"

namespace tbcli {

namespace fs = std::filesystem;

namespace {

// The file a name stands for: a symbolic link's target where it exists,
// else the name itself (a new file, or a link that leads nowhere, which the
// new file replaces).
std::string targetOf(const std::string &path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  const fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved.string();
}

}  // namespace

std::string folderOf(const std::string &path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

bool folderExists(const std::string &path) {
  std::error_code error;
  return fs::is_directory(folderOf(path), error);
}

std::string extensionOf(const std::string &path) { return fs::path(path).extension().string(); }

std::string checkOutputPath(const std::string &path) {
  if (!folderExists(path)) return "output folder '" + folderOf(path) + "' does not exist";
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return std::string();
  if (ec) return "cannot write '" + path + "': " + ec.message();
  if (status.type() == fs::file_type::directory) return "cannot write '" + path + "': it is a folder";
  if (status.type() != fs::file_type::regular)
    return "cannot write '" + path + "': not a regular file (a device or pipe); name a file";
  return std::string();
}

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
  const std::string target = targetOf(finalPath);
  // A fresh file, so that no other file of that name is ever overwritten.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        ".tintbridge-" + std::to_string(processId()) + "-" + std::to_string(++counter_) + extension;
    const std::string temp = (fs::path(folderOf(target)) / name).string();
    bool exists = false;
    std::string why;
    if (createNewFile(temp, exists, why)) {
      entries_.push_back({temp, finalPath, target, std::string(), false});
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

// Gives the replacement the replaced file's permission bits and keeps the
// replaced file under a second name, so that it can be put back.
bool OutputFiles::prepare(Entry &e, std::string &error) {
  std::error_code ec;
  const fs::file_status old = fs::status(e.target, ec);
  if (old.type() != fs::file_type::regular) return true;
  e.replaces = true;
  fs::permissions(e.temp, old.permissions(), ec);
  if (ec) {
    error = "cannot write '" + e.final + "': " + ec.message();
    return false;
  }
  const std::string backup = e.temp + ".old";
  fs::create_hard_link(e.target, backup, ec);
  // Where the file system has no second names, the file cannot be put back.
  if (!ec) e.backup = backup;
  return true;
}

void OutputFiles::rollBack(size_t moved) {
  for (size_t i = 0; i < moved; ++i) {
    Entry &e = entries_[i];
    std::error_code ec;
    if (!e.backup.empty()) {
      fs::rename(e.backup, e.target, ec);
      if (!ec) e.backup.clear();
    } else if (!e.replaces) {
      fs::remove(e.target, ec);
    }
    e.temp.clear();
  }
}

bool OutputFiles::commit(std::string &error) {
  bool ok = true;
  for (Entry &e : entries_)
    if (ok && !prepare(e, error)) ok = false;
  for (size_t i = 0; ok && i < entries_.size(); ++i) {
    std::error_code ec;
    fs::rename(entries_[i].temp, entries_[i].target, ec);
    if (ec) {
      error = "cannot write '" + entries_[i].final + "': " + ec.message();
      rollBack(i);
      ok = false;
    }
  }
  if (ok)
    for (Entry &e : entries_) e.temp.clear();
  discard();
  return ok;
}

void OutputFiles::discard() {
  for (const Entry &e : entries_) {
    std::error_code ec;
    if (!e.temp.empty()) fs::remove(e.temp, ec);
    if (!e.backup.empty()) fs::remove(e.backup, ec);
  }
  entries_.clear();
}

}  // namespace tbcli
