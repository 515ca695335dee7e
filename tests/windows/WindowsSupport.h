// Helpers for the Windows tests: scratch folders with native paths, whole-file
// reads, filled LUTs, and a capture of what reaches OutputDebugStringA.
#ifndef TINTBRIDGE_TESTS_WINDOWS_SUPPORT_H
#define TINTBRIDGE_TESTS_WINDOWS_SUPPORT_H

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "lut/MatchLut.h"

namespace wintest {

// A fresh folder below the Windows temp folder, "C:\...\Temp\tb-XXXX", with
// everything in it removed at the end.
struct TempFolder {
  std::string path;  // no trailing backslash
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;
  std::string file(const std::string &name) const { return path + "\\" + name; }
  std::vector<std::string> names() const;
};

// Names in a folder, sorted, without "." and "..".
std::vector<std::string> namesIn(const std::string &folder);

// Removes a folder and everything below it.
void removeTree(const std::string &path);

std::string readFile(const std::string &path);
bool fileExists(const std::string &path);

// The documents folder as SHGetFolderPathA reports it; "" on failure.
std::string documentsFolder();

// 7 January 2026, 09:30:05.
std::tm fixedStamp();

// Fills the LUT with the identity, slightly bent so no value is trivial.
void fillIdentity(MatchLut &lut, int n);

// Counts of line breaks in `text`.
struct LineEnds {
  size_t crlf = 0;
  size_t bareLf = 0;  // '\n' without a '\r' before it
  size_t bareCr = 0;  // '\r' without a '\n' after it
};
LineEnds countLineEnds(const std::string &text);

// Collects every string passed to OutputDebugStringA in this process, the
// module's included, for the life of the object. OutputDebugStringA raises
// DBG_PRINTEXCEPTION_C with the text; a first-chance vectored handler reads
// it and lets the program go on, so the test needs no debugger.
class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture &) = delete;
  DebugOutputCapture &operator=(const DebugOutputCapture &) = delete;
  bool active() const { return handler_ != nullptr; }
  std::vector<std::string> strings() const;
  bool contains(const std::string &text) const;

 private:
  void *handler_ = nullptr;
};

}  // namespace wintest

#endif
