#include "windows/WindowsSupport.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace wintest {

namespace {

std::atomic<unsigned> gFolderCounter{0};

std::mutex gCaptureMutex;
std::vector<std::string> gCaptured;

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006
#endif

LONG CALLBACK onException(EXCEPTION_POINTERS *info) {
  const EXCEPTION_RECORD *record = info != nullptr ? info->ExceptionRecord : nullptr;
  if (record == nullptr || record->ExceptionCode != static_cast<DWORD>(DBG_PRINTEXCEPTION_C) ||
      record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // Parameters: the length with its NUL, then the text.
  const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
  const char *text = reinterpret_cast<const char *>(record->ExceptionInformation[1]);
  if (text != nullptr) {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    const void *end = length > 0 ? std::memchr(text, '\0', length) : nullptr;
    gCaptured.emplace_back(text, end != nullptr ? static_cast<const char *>(end) - text : length);
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

TempFolder::TempFolder() {
  char base[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, base);
  if (length == 0 || length >= MAX_PATH) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%stb-%lu-%u", base, GetCurrentProcessId(), gFolderCounter.fetch_add(1));
    if (CreateDirectoryA(name, nullptr)) {
      path = name;
      return;
    }
  }
}

TempFolder::~TempFolder() {
  if (!path.empty()) removeTree(path);
}

std::vector<std::string> TempFolder::names() const { return namesIn(path); }

std::vector<std::string> namesIn(const std::string &folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return out;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") out.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(out.begin(), out.end());
  return out;
}

void removeTree(const std::string &path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool fileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string documentsFolder() {
  char folder[MAX_PATH];
  std::memset(folder, 0, sizeof folder);
  if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, folder) < 0) return std::string();
  return folder;
}

std::tm fixedStamp() {
  std::tm stamp;
  std::memset(&stamp, 0, sizeof stamp);
  stamp.tm_year = 2026 - 1900;
  stamp.tm_mon = 0;
  stamp.tm_mday = 7;
  stamp.tm_hour = 9;
  stamp.tm_min = 30;
  stamp.tm_sec = 5;
  return stamp;
}

void fillIdentity(MatchLut &lut, int n) {
  if (!lut.allocate(n)) return;
  for (int r = 0; r < n; ++r) {
    for (int g = 0; g < n; ++g) {
      for (int b = 0; b < n; ++b) {
        float *entry = lut.data + MatchLut::entryOffset(n, r, g, b);
        entry[0] = static_cast<float>(r) / static_cast<float>(n - 1) * 0.9f + 0.05f;
        entry[1] = static_cast<float>(g) / static_cast<float>(n - 1);
        entry[2] = static_cast<float>(b) / static_cast<float>(n - 1) * 0.8f;
      }
    }
  }
  lut.valid = true;
}

LineEnds countLineEnds(const std::string &text) {
  LineEnds ends;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      if (i > 0 && text[i - 1] == '\r') {
        ++ends.crlf;
      } else {
        ++ends.bareLf;
      }
    } else if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
      ++ends.bareCr;
    }
  }
  return ends;
}

DebugOutputCapture::DebugOutputCapture() {
  {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    gCaptured.clear();
  }
  handler_ = AddVectoredExceptionHandler(1, onException);
}

DebugOutputCapture::~DebugOutputCapture() {
  if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
}

std::vector<std::string> DebugOutputCapture::strings() const {
  std::lock_guard<std::mutex> lock(gCaptureMutex);
  return gCaptured;
}

bool DebugOutputCapture::contains(const std::string &text) const {
  const std::vector<std::string> all = strings();
  return std::find(all.begin(), all.end(), text) != all.end();
}

}  // namespace wintest
