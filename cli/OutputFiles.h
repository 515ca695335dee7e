// Files the command writes appear whole or not at all: each is written under
// a temporary name in its own folder and renamed over the final name once
// everything it belongs to has succeeded.
#ifndef TINTBRIDGE_CLI_OUTPUT_FILES_H
#define TINTBRIDGE_CLI_OUTPUT_FILES_H

#include <map>
#include <string>
#include <vector>

namespace tbcli {

// The folder a file name lies in; "." for a bare name.
std::string folderOf(const std::string &path);
bool folderExists(const std::string &path);
// The extension of the file name, with its dot (".png"); "" without one.
std::string extensionOf(const std::string &path);

// Tells which names are one file: by device and file number where the file
// exists, else by the path it would be made at, its folder resolved.
class FileIdentities {
 public:
  std::string of(const std::string &path);

 private:
  std::map<std::string, std::string> folders_;  // as named -> resolved
};

class OutputFiles {
 public:
  OutputFiles() = default;
  OutputFiles(const OutputFiles &) = delete;
  OutputFiles &operator=(const OutputFiles &) = delete;
  ~OutputFiles();  // removes what was never committed

  // A new, empty temporary file beside `finalPath`, its name ending in
  // `extension` (".cube", ".png", ...), to be renamed to `finalPath` by
  // commit(). "" and the message in `error` when it cannot be made.
  std::string reserve(const std::string &finalPath, const std::string &extension, std::string &error);
  // Renames every reserved file to its final name; on a failure names the
  // file in `error` and removes the rest.
  bool commit(std::string &error);
  void discard();

 private:
  struct Entry {
    std::string temp;
    std::string final;
  };
  std::vector<Entry> entries_;
  int counter_ = 0;
};

}  // namespace tbcli

#endif
