// Fuzz target: the two export writers. Tables of 2 to 9 points a side with
// entries of any float bits, valid or not (or no table at all), any mix and
// strengths (NaN, infinite, negative, huge), written as .cube and as fitted
// .cdl to a new file, over an earlier file, through a link, and to places
// that cannot be written: a folder, a path under a file, a missing folder, a
// name too long for the file system, a full device, a read-only file system.
//
// Invariants: a write succeeds exactly where it can; a written .cube parses
// completely (header lines, then size^3 lines of three numbers within
// [0, 1]); a written .cdl has its 13 lines with finite numbers; a failed
// write leaves any earlier file as it was, creates nothing and leaves no
// temporary file behind.
#include <map>
#include <string>

#include "export/CdlValues.h"
#include "fuzz/FuzzBasics.h"
#include "lut/MatchLut.h"

using namespace fuzzsupport;

namespace {

const char kEarlier[] = "earlier export\n";

// The export folder: emptied before every input but for the fixtures.
const std::string &exportFolder() {
  static const std::string folder = [] {
    const std::string f = scratchFolder() + "/e";
    ::mkdir(f.c_str(), 0700);
    ::mkdir((f + "/adir.cube").c_str(), 0700);
    std::ofstream(f + "/afile") << "fixture\n";
    return f;
  }();
  return folder;
}

const std::vector<std::string> kFixtures = {"adir.cube", "afile"};

enum class Target { Fresh, Earlier, Link, Folder, UnderFile, MissingFolder, LongName, FullDevice, ReadOnly, Count };

struct Destination {
  std::string path;
  bool writable;    // the write can succeed
  bool earlier;     // an earlier file is there (at `kept`)
  std::string kept; // the file that receives the export, or holds the earlier one
};

// Prepares the place `target` names; `name` tells the .cube and .cdl apart.
Destination prepare(Target target, const std::string &name) {
  const std::string folder = exportFolder();
  switch (target) {
    case Target::Fresh:
      return {folder + "/" + name, true, false, folder + "/" + name};
    case Target::Earlier:
      std::ofstream(folder + "/" + name) << kEarlier;
      return {folder + "/" + name, true, true, folder + "/" + name};
    case Target::Link: {
      const std::string linked = folder + "/linked-" + name;
      std::ofstream(linked) << kEarlier;
      FUZZ_CHECK(::symlink(linked.c_str(), (folder + "/" + name).c_str()) == 0, "cannot make a link");
      return {folder + "/" + name, true, true, linked};
    }
    case Target::Folder:
      return {folder + "/adir.cube", false, false, ""};
    case Target::UnderFile:
      return {folder + "/afile/" + name, false, false, ""};
    case Target::MissingFolder:
      return {folder + "/missing/" + name, false, false, ""};
    case Target::LongName:
      return {folder + "/" + std::string(300, 'n') + name, false, false, ""};
    case Target::FullDevice:
      return {"/dev/full", false, false, ""};
    case Target::ReadOnly:
      // /proc refuses new files even to root.
      return {"/proc/self/" + name, false, false, ""};
    case Target::Count:
      break;
  }
  fail("no such target");
}

std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> entries;
  snapshotFolder(exportFolder(), "", entries);
  return entries;
}

// Checks one write: its result, and what is on disk after it.
void checkWrite(const char *what, bool written, const Destination &d,
                const std::map<std::string, std::string> &before, std::string (*problem)(const std::string &)) {
  const std::map<std::string, std::string> after = snapshot();
  if (!written) {
    FUZZ_CHECK(after == before, "the failed %s write to %s changed the export folder (%zu entries, was %zu)", what,
               d.path.c_str(), after.size(), before.size());
    return;
  }
  FUZZ_CHECK(d.writable, "the %s write to %s reported success", what, d.path.c_str());
  std::string text;
  FUZZ_CHECK(readFile(d.kept, text), "the written %s file %s cannot be read", what, d.kept.c_str());
  const std::string why = problem(text);
  FUZZ_CHECK(why.empty(), "the written %s file is broken: %s", what, why.c_str());
  // Only the target changed: no temporary file is left, nothing else appeared.
  std::map<std::string, std::string> expected = before;
  const std::string keptName = d.kept.substr(exportFolder().size() + 1);
  expected[keptName] = "file " + text;
  FUZZ_CHECK(after == expected, "the %s write to %s left %zu entries, not %zu", what, d.path.c_str(), after.size(),
             expected.size());
}

float mixFromFuzz(FuzzedDataProvider &fdp) { return fdp.ConsumeBool() ? 1.0f : specialFloat(fdp); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  emptyFolder(exportFolder(), kFixtures);

  MatchLut lut;
  const bool table = fdp.ConsumeIntegralInRange<int>(0, 15) != 0;
  const int n = fdp.ConsumeIntegralInRange<int>(kMinLutSize, 9);
  if (table) {
    FUZZ_CHECK(lut.allocate(n), "cannot allocate a table of %d points", n);
    const int64_t count = static_cast<int64_t>(n) * n * n * 3;
    // Mostly colours within [0, 1], then the awkward values.
    const int awkward = fdp.ConsumeIntegralInRange<int>(0, 3);
    for (int64_t i = 0; i < count; ++i) {
      lut.data[i] = (awkward == 0 || fdp.ConsumeIntegralInRange<int>(0, awkward * 3) != 0)
                        ? fdp.ConsumeProbability<float>()
                        : specialFloat(fdp);
    }
    lut.valid.store(fdp.ConsumeIntegralInRange<int>(0, 3) != 0);
  }
  const float mix = mixFromFuzz(fdp);
  const float strength[3] = {mixFromFuzz(fdp), mixFromFuzz(fdp), mixFromFuzz(fdp)};

  const int kinds = static_cast<int>(Target::Count) - 1;
  const Target cubeTarget = static_cast<Target>(fdp.ConsumeIntegralInRange<int>(0, kinds));
  Destination cube = prepare(cubeTarget, "look.cube");
  std::map<std::string, std::string> before = snapshot();
  const bool cubeWritten = lut.writeCube(cube.path.c_str(), mix, strength[0], strength[1], strength[2]);
  if (table)
    FUZZ_CHECK(cubeWritten == cube.writable, "the .cube write to %s returned %d", cube.path.c_str(), cubeWritten);
  checkWrite(".cube", cubeWritten, cube, before, cubeProblem);
  if (cubeWritten) {
    std::string text;
    readFile(cube.kept, text);
    const std::string sizeLine = "\nLUT_3D_SIZE " + std::to_string(n) + "\n";
    FUZZ_CHECK(text.find(sizeLine) != std::string::npos, "the .cube file does not give the size %d", n);
  }

  CdlValues values = {{1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 1.0f};
  lut.fitCdl(values);
  const Target cdlTarget = static_cast<Target>(fdp.ConsumeIntegralInRange<int>(0, kinds));
  Destination cdl = prepare(cdlTarget, "look.cdl");
  before = snapshot();
  const bool cdlWritten = writeCdl(cdl.path.c_str(), values);
  FUZZ_CHECK(cdlWritten == cdl.writable, "the .cdl write to %s returned %d", cdl.path.c_str(), cdlWritten);
  checkWrite(".cdl", cdlWritten, cdl, before, cdlProblem);
  return 0;
}
