// Files the command writes appear whole or not at all, and all of a job's
// files or none: each is written under a temporary name in the folder of
// the file it replaces, and every one is put in place only once all have
// been written.
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

// "" when `path` can be an output: its folder exists and it is a regular
// file or nothing yet (a symbolic link counts as the file it leads to).
// Else the message for the user: a folder, a device or pipe, a name too
// long, a loop of links.
std::string checkOutputPath(const std::string &path);

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

  // A new, empty temporary file beside the file `finalPath` names (beside
  // the target of a symbolic link), its name ending in `extension` (".cube",
  // ".png", ...). "" and the message in `error` when it cannot be made.
  std::string reserve(const std::string &finalPath, const std::string &extension, std::string &error);
  // Puts every reserved file in place of its final name, or none: when one
  // cannot be moved, those already moved are put back. A replaced file's
  // permission bits go to its replacement. The message names the user's file.
  bool commit(std::string &error);
  // Removes every temporary file.
  void discard();

 private:
  struct Entry {
    std::string temp;
    std::string final;   // as the user named it
    std::string target;  // the file replaced: `final`, or the target of its link
    std::string backup;  // a second name of the replaced file while committing
    bool replaces;       // there was a file to replace
  };
  bool prepare(Entry &entry, std::string &error);
  void rollBack(size_t moved);

  std::vector<Entry> entries_;
  int counter_ = 0;
};

}  // namespace tbcli

#endif
