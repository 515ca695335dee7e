// Fuzz target: the export path rules. User paths of any bytes and length
// (folder endings of either separator, the two extensions, '%', lengths
// around the capacity), both kinds, any time stamp (fields out of range too),
// documents folders whose default path just fits or just does not, or none.
//
// Invariants: resolveExportPath gives exactly the path the rules describe, or
// refuses with an empty buffer precisely when that path does not fit in
// kExportPathCapacity bytes; the user's part is never cut; the name ends in
// the kind's extension. formatDefaultExportPath and defaultExportPath agree
// with it for any buffer size.
#include <algorithm>
#include <string>

#include "export/ExportPaths.h"
#include "fuzz/FuzzBasics.h"

using namespace fuzzsupport;

namespace {

// Where the default path goes, and the environment that selects it.
struct Documents {
  std::string home;     // HOME
  std::string xdg;      // XDG_DOCUMENTS_DIR, or empty for none
  std::string folder;   // the folder the default path should use
};

// A folder below `base` whose path is exactly `length` characters long.
std::string deepFolder(const std::string &base, size_t length) {
  std::string path = base;
  ::mkdir(path.c_str(), 0700);
  while (path.size() + 51 < length) {
    path += "/" + std::string(50, 'd');
    ::mkdir(path.c_str(), 0700);
  }
  path += "/" + std::string(length - path.size() - 1, 'e');
  ::mkdir(path.c_str(), 0700);
  FUZZ_CHECK(path.size() == length && ::access(path.c_str(), F_OK) == 0, "cannot make a folder of %zu characters",
             length);
  return path;
}

const std::vector<Documents> &documentsSetups() {
  static const std::vector<Documents> setups = [] {
    const std::string scratch = scratchFolder();
    const std::string home = scratch + "/home";
    const std::string bare = scratch + "/bare-home";
    ::mkdir(bare.c_str(), 0700);
    // 991 + "/" + "Tintbridge_YYYYMMDD_HHMMSS.cube" is 1023 characters: the
    // longest default path that fits; one more does not.
    const std::string fits = deepFolder(scratch + "/deep1", 991);
    const std::string over = deepFolder(scratch + "/deep2", 992);
    return std::vector<Documents>{{home, "", home + "/Documents"},
                                  {home, fits + "//", fits},
                                  {home, over, over},
                                  {bare, "", "/tmp"}};
  }();
  return setups;
}

void useDocuments(const Documents &d) {
  ::setenv("HOME", d.home.c_str(), 1);
  if (d.xdg.empty()) {
    ::unsetenv("XDG_DOCUMENTS_DIR");
  } else {
    ::setenv("XDG_DOCUMENTS_DIR", d.xdg.c_str(), 1);
  }
}

int stampField(FuzzedDataProvider &fdp, int lo, int hi) {
  return fdp.ConsumeIntegralInRange<int>(0, 3) != 3 ? fdp.ConsumeIntegralInRange<int>(lo, hi)
                                                     : fdp.ConsumeIntegral<int>();
}

std::tm stampFromFuzz(FuzzedDataProvider &fdp) {
  std::tm stamp;
  std::memset(&stamp, 0, sizeof stamp);
  stamp.tm_year = stampField(fdp, -1900, 8099);
  stamp.tm_mon = stampField(fdp, 0, 11);
  stamp.tm_mday = stampField(fdp, 1, 31);
  stamp.tm_hour = stampField(fdp, 0, 23);
  stamp.tm_min = stampField(fdp, 0, 59);
  stamp.tm_sec = stampField(fdp, 0, 60);
  stamp.tm_wday = fdp.ConsumeIntegral<int>();
  stamp.tm_yday = fdp.ConsumeIntegral<int>();
  stamp.tm_isdst = fdp.ConsumeIntegral<int>();
  return stamp;
}

// The time-stamped file name the rules give: year, month and day, then hour,
// minute and second, each field written out whole.
std::string stampedName(const std::tm &s, const char *extension) {
  char name[160];
  std::snprintf(name, sizeof name, "Tintbridge_%04lld%02lld%02lld_%02lld%02lld%02lld%s", s.tm_year + 1900LL,
                s.tm_mon + 1LL, static_cast<long long>(s.tm_mday), static_cast<long long>(s.tm_hour),
                static_cast<long long>(s.tm_min), static_cast<long long>(s.tm_sec), extension);
  return name;
}

bool endsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The path the rules give for a non-empty user path.
std::string rulePath(const std::string &user, ExportKind kind, const std::tm &stamp) {
  const char *extension = kind == ExportKind::Cube ? ".cube" : ".cdl";
  const char last = user.back();
  if (last == '/' || last == '\\') return user + stampedName(stamp, extension);
  if (endsWith(user, ".cube")) return kind == ExportKind::Cube ? user : user.substr(0, user.size() - 5) + ".cdl";
  if (endsWith(user, ".cdl")) return kind == ExportKind::Cdl ? user : user + ".cube";
  return user + extension;
}

// A user path from pieces that the rules treat specially.
std::string userPathFromFuzz(FuzzedDataProvider &fdp) {
  static const char *const kPieces[] = {"/", "\\", ".cube", ".cdl", ".CUBE", "%s", "%n", "a", "cube", ".", "//",
                                        "look", "\xff", "C:\\"};
  std::string path;
  switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return fdp.ConsumeRandomLengthString(1100);
    case 1:
      // Near the capacity: the endings decide whether it fits.
      path.assign(fdp.ConsumeIntegralInRange<size_t>(985, 1030), 'a');
      break;
    default:
      break;
  }
  const int pieces = fdp.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < pieces; ++i) {
    if (fdp.ConsumeBool()) {
      path += kPieces[fdp.ConsumeIntegralInRange<size_t>(0, sizeof kPieces / sizeof kPieces[0] - 1)];
    } else {
      path += fdp.ConsumeRandomLengthString(8);
    }
  }
  return path;
}

std::tm gClockStamp;
bool gClockWorks = true;

bool fuzzClock(std::tm &out) {
  out = gClockStamp;
  return gClockWorks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const std::vector<Documents> &setups = documentsSetups();
  const Documents &documents = setups[fdp.ConsumeIntegralInRange<size_t>(0, setups.size() - 1)];
  useDocuments(documents);
  const ExportKind kind = fdp.ConsumeBool() ? ExportKind::Cube : ExportKind::Cdl;
  const char *extension = kind == ExportKind::Cube ? ".cube" : ".cdl";
  const std::tm stamp = stampFromFuzz(fdp);
  const bool nullPath = fdp.ConsumeIntegralInRange<int>(0, 15) == 0;
  const std::string stored = userPathFromFuzz(fdp);
  const std::string user = nullPath ? std::string() : std::string(stored.c_str());  // what the C string holds
  const char fill = static_cast<char>(fdp.ConsumeIntegralInRange<int>(1, 255));

  // An exact-size heap buffer, so that a write past its end is caught.
  std::vector<char> buffer(kExportPathCapacity, fill);
  const bool ok = resolveExportPath(nullPath ? nullptr : stored.c_str(), kind, stamp, buffer.data());
  const std::string defaultPath = documents.folder + "/" + stampedName(stamp, extension);
  const std::string expected = user.empty() ? defaultPath : rulePath(user, kind, stamp);
  const bool fits = user.size() < kExportPathCapacity && expected.size() < kExportPathCapacity;
  if (!ok) {
    FUZZ_CHECK(buffer[0] == '\0', "a refused path leaves '%.40s' in the buffer", buffer.data());
    FUZZ_CHECK(!fits, "a path of %zu characters that fits was refused: %.200s", expected.size(), expected.c_str());
  } else {
    FUZZ_CHECK(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr, "the resolved path is not terminated");
    const std::string got(buffer.data());
    const std::string kept = (kind == ExportKind::Cdl && endsWith(user, ".cube")) ? user.substr(0, user.size() - 5)
                                                                                : user;
    FUZZ_CHECK(got.compare(0, kept.size(), kept) == 0, "the user's path was cut: %.200s", got.c_str());
    FUZZ_CHECK(endsWith(got, extension), "'%.200s' does not end in %s", got.c_str(), extension);
    FUZZ_CHECK(fits, "a path of %zu characters was accepted", expected.size());
    FUZZ_CHECK(got == expected, "resolved '%.300s', the rules give '%.300s'", got.c_str(), expected.c_str());
  }

  // The default path for any buffer size: whole or refused, and cut to the
  // buffer by defaultExportPath, with the stamp of the installed clock.
  if (fdp.ConsumeBool()) {
    const size_t capacity = fdp.ConsumeIntegralInRange<size_t>(0, kExportPathCapacity + 40);
    std::vector<char> small(capacity, fill);
    const bool whole = formatDefaultExportPath(capacity == 0 ? nullptr : small.data(), capacity, stamp);
    const std::string cube = documents.folder + "/" + stampedName(stamp, ".cube");
    FUZZ_CHECK(whole == (cube.size() < capacity), "the default path of %zu characters %s a buffer of %zu",
               cube.size(), whole ? "fitted" : "did not fit", capacity);
    if (whole) FUZZ_CHECK(small.data() == cube, "default path '%.300s'", small.data());

    gClockWorks = fdp.ConsumeIntegralInRange<int>(0, 7) != 0;
    gClockStamp = stamp;
    setExportClock(fuzzClock);
    if (capacity > 0) std::memset(small.data(), fill, capacity);
    defaultExportPath(capacity == 0 ? nullptr : small.data(), capacity);
    setExportClock(nullptr);
    if (capacity > 0) {
      std::tm epoch;
      std::memset(&epoch, 0, sizeof epoch);
      epoch.tm_year = 70;
      epoch.tm_mday = 1;
      const std::string full = documents.folder + "/" + stampedName(gClockWorks ? stamp : epoch, ".cube");
      FUZZ_CHECK(std::memchr(small.data(), '\0', capacity) != nullptr, "the default path is not terminated");
      FUZZ_CHECK(full.compare(0, capacity - 1, small.data()) == 0 && std::strlen(small.data()) ==
                     std::min(full.size(), capacity - 1),
                 "default path '%.300s' is not '%.300s' cut to %zu bytes", small.data(), full.c_str(), capacity);
    }
  }
  return 0;
}
