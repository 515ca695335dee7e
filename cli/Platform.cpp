#include "cli/Platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tbcli {

namespace {

volatile std::sig_atomic_t gInterruption = 0;

extern "C" void markInterrupted(int signal) {
  if (gInterruption == 0) gInterruption = signal;
}

std::string lastSystemError() { return std::strerror(errno); }

#if defined(_WIN32)
int openForWriting(const std::string &path) { return _open(path.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY); }
int writeSome(int fd, const unsigned char *data, size_t size) {
  return _write(fd, data, static_cast<unsigned>(size > (1u << 30) ? (1u << 30) : size));
}
int syncDescriptor(int fd) { return _commit(fd); }
int closeDescriptor(int fd) { return _close(fd); }
#else
int openForWriting(const std::string &path) { return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); }
long writeSome(int fd, const unsigned char *data, size_t size) {
  return static_cast<long>(::write(fd, data, size > (size_t(1) << 30) ? (size_t(1) << 30) : size));
}
int syncDescriptor(int fd) {
  const int status = ::fsync(fd);
  // Some kinds of file have nothing to sync.
  return status != 0 && (errno == EINVAL || errno == EROFS) ? 0 : status;
}
int closeDescriptor(int fd) { return ::close(fd); }
#endif

}  // namespace

bool stderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

std::string executableFolder() {
#if defined(_WIN32)
  char buffer[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::filesystem::path(std::string(buffer, n)).parent_path().string();
#elif defined(__linux__)
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::string();
  return exe.parent_path().string();
#else
  // Elsewhere only the compiled-in locations are searched.
  return std::string();
#endif
}

long processId() {
#if defined(_WIN32)
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

bool createNewFile(const std::string &path, bool &exists, std::string &error) {
#if defined(_WIN32)
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
  exists = fd < 0 && errno == EEXIST;
  if (fd < 0) {
    error = lastSystemError();
    return false;
  }
  if (closeDescriptor(fd) != 0) {
    error = lastSystemError();
    return false;
  }
  return true;
}

bool writeWholeFile(const std::string &path, const void *data, size_t size, std::string &error) {
  const int fd = openForWriting(path);
  if (fd < 0) {
    error = lastSystemError();
    return false;
  }
  const unsigned char *at = static_cast<const unsigned char *>(data);
  bool ok = true;
  while (ok && size > 0) {
    const long n = writeSome(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ok = false;
      break;
    }
    at += n;
    size -= static_cast<size_t>(n);
  }
  if (ok && syncDescriptor(fd) != 0) ok = false;
  if (!ok) error = lastSystemError();
  if (closeDescriptor(fd) != 0 && ok) {
    error = lastSystemError();
    ok = false;
  }
  return ok;
}

bool syncFile(const std::string &path, std::string &error) {
#if defined(_WIN32)
  const int fd = _open(path.c_str(), _O_RDWR | _O_BINARY);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
  if (fd < 0) {
    error = lastSystemError();
    return false;
  }
  bool ok = syncDescriptor(fd) == 0;
  if (!ok) error = lastSystemError();
  if (closeDescriptor(fd) != 0 && ok) {
    error = lastSystemError();
    ok = false;
  }
  return ok;
}

bool fileKey(const std::string &path, std::string &key) {
#if defined(_WIN32)
  (void)path;
  (void)key;
  return false;
#else
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  key = std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
        std::to_string(static_cast<unsigned long long>(info.st_ino));
  return true;
#endif
}

void catchInterruptions() {
#if defined(_WIN32)
  std::signal(SIGINT, markInterrupted);
  std::signal(SIGTERM, markInterrupted);
  std::signal(SIGBREAK, markInterrupted);
#else
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = markInterrupted;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // system calls in progress go on
  // A signal ignored from the start (nohup, a background job) stays ignored.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
#endif
}

int interruption() { return gInterruption; }

std::string signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#if defined(SIGHUP)
    case SIGHUP:
      return "SIGHUP";
#endif
#if defined(SIGBREAK)
    case SIGBREAK:
      return "SIGBREAK";
#endif
    default:
      return "signal " + std::to_string(signal);
  }
}

#if defined(_WIN32)

StderrFilter::StderrFilter(const std::string &) {}
StderrFilter::~StderrFilter() {}

#else

namespace {

void writeAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

StderrFilter::StderrFilter(const std::string &prefix) {
  int ends[2];
  if (::pipe(ends) != 0) return;
  std::fflush(stderr);
  saved_ = ::dup(2);
  if (saved_ < 0 || ::dup2(ends[1], 2) < 0) {
    if (saved_ >= 0) ::close(saved_);
    saved_ = -1;
    ::close(ends[0]);
    ::close(ends[1]);
    return;
  }
  ::close(ends[1]);
  readEnd_ = ends[0];
  const int from = readEnd_, to = saved_;
  auto forward = [from, to, prefix] {
    std::string line;
    char buffer[4096];
    auto pass = [&] {
      if (line.compare(0, prefix.size(), prefix) != 0) writeAll(to, line.data(), line.size());
      line.clear();
    };
    for (;;) {
      const ssize_t n = ::read(from, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        line += buffer[i];
        if (buffer[i] == '\n') pass();
      }
    }
    if (!line.empty()) pass();
  };
  try {
    reader_ = std::thread(forward);
  } catch (...) {
    // No thread to read the pipe: nothing is held back.
    ::dup2(saved_, 2);
    ::close(saved_);
    ::close(readEnd_);
    saved_ = readEnd_ = -1;
  }
}

StderrFilter::~StderrFilter() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, 2);  // the last write end of the pipe closes: the reader sees its end
  reader_.join();
  ::close(readEnd_);
  ::close(saved_);
}

#endif

void ignoreFileSizeSignal() {
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace tbcli
