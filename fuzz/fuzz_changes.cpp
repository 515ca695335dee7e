// Fuzz target: instance changes and the two exports. Names and types of any
// bytes, in-arguments with properties missing, of the wrong type or failing,
// export paths of any bytes and length (folder endings, extensions, '%', very
// long) inside a scratch folder, with the host's message suite present or not;
// edits of the analysis parameters (out-of-range values too) and the
// frames-needed action, a Source given frame by frame with later frames
// withheld, and a host whose temporal clip access is on, off or not said.
//
// A model of the LUT's validity predicts every status and every message. After
// each step: every export file is complete and parses, no temporary file is
// left, no earlier file changed unless an export reported writing it, a
// written path was stored back in "exportPath" (cube) or left alone (CDL),
// images were released exactly once and memory blocks are all freed at destroy.
#include <limits.h>

#include <functional>
#include <map>

#include "fuzz/FuzzSupport.h"
#include "plugin/Names.h"

using namespace fuzzsupport;
using tbhost::Image;
using tbhost::Instance;

namespace {

const std::string &exportFolder() {
  static const std::string folder = [] {
    const std::string f = scratchFolder() + "/e";
    ::mkdir(f.c_str(), 0700);
    ::mkdir((f + "/sub").c_str(), 0700);
    ::mkdir((f + "/adir.cube").c_str(), 0700);
    ::mkdir((f + "/adir.cdl").c_str(), 0700);
    std::ofstream(f + "/afile") << "fixture\n";
    return f;
  }();
  return folder;
}

const std::vector<std::string> kFixtures = {"sub", "adir.cube", "adir.cdl", "afile"};

std::string documentsFolder() { return scratchFolder() + "/home/Documents"; }

// `temporalAccess`: the host's temporal clip access, 1 or 0 as said, -1 not
// said at all.
tbhost::Host &host(bool messages, int temporalAccess) {
  static std::unique_ptr<tbhost::Host> h;
  static bool withMessages = true;
  static int loadedWith = 1;
  static int uses = 0;
  if (!h || ++uses > 200) {
    h.reset();
    h.reset(new tbhost::Host(bundleBinary()));
    if (h->load() != kOfxStatOK) fail("the bundle does not load: %s", h->lastError().c_str());
    withMessages = true;
    loadedWith = 1;
    uses = 0;
  }
  if (messages != withMessages || temporalAccess != loadedWith) {
    // The load action fetches the suites again, now with or without the
    // message suite, and reads the temporal access again.
    if (messages)
      h->provideSuite(kOfxMessageSuite);
    else
      h->withholdSuite(kOfxMessageSuite);
    if (temporalAccess < 0)
      h->hostProperties().remove(kOfxImageEffectPropTemporalClipAccess);
    else
      h->hostProperties().defineInt(kOfxImageEffectPropTemporalClipAccess, {temporalAccess});
    FUZZ_CHECK(h->callAction(kOfxActionLoad, nullptr, nullptr, nullptr) == kOfxStatOK, "reload failed");
    withMessages = messages;
    loadedWith = temporalAccess;
  }
  return *h;
}

const char *const kAnalysisParams[5] = {kParamAnalysis, kParamAnalysisStart, kParamAnalysisEnd, kParamAnalysisFrames,
                                        kParamAnalysisWindow};

// A value for an analysis parameter: mostly a small one, now and then any int.
int pickSetting(FuzzedDataProvider &fdp) {
  return fdp.ConsumeIntegralInRange<int>(0, 3) == 0 ? specialInt(fdp) : fdp.ConsumeIntegralInRange<int>(0, 4);
}

// Every file in the export areas with its content.
std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> files;
  std::vector<std::string> names;
  listFiles(exportFolder(), exportFolder() + "/", names);
  listFiles(documentsFolder(), documentsFolder() + "/", names);
  for (const std::string &path : names) {
    if (path == exportFolder() + "/afile") continue;
    std::string text;
    FUZZ_CHECK(readFile(path, text), "cannot read %s", path.c_str());
    files[path] = text;
  }
  return files;
}

void checkFiles(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after,
                const std::string &written, bool anyMayChange) {
  for (const auto &f : after) {
    const size_t slash = f.first.rfind('/');
    FUZZ_CHECK(f.first.compare(slash + 1, 12, ".Tintbridge-") != 0, "temporary file left: %s", f.first.c_str());
    // Files that did not change were judged before.
    auto was = before.find(f.first);
    if (was != before.end() && was->second == f.second) continue;
    const std::string problem = exportProblem(f.second);
    FUZZ_CHECK(problem.empty(), "%s is not a complete export: %s", f.first.c_str(), problem.c_str());
  }
  for (const auto &f : before) {
    auto now = after.find(f.first);
    FUZZ_CHECK(now != after.end(), "%s disappeared", f.first.c_str());
    if (f.first == written || anyMayChange) continue;
    FUZZ_CHECK(now->second == f.second, "%s changed", f.first.c_str());
  }
  for (const auto &f : after) {
    if (before.count(f.first) || f.first == written || anyMayChange) continue;
    fail("%s appeared without a reported export", f.first.c_str());
  }
}

std::string pickName(FuzzedDataProvider &fdp) {
  static const char *const kNames[] = {"exportButton",  "exportCDLButton", "rebuildButton",  "matchMode",
                                       "preserveMode",  "strength",        "strengthR",      "exportPath",
                                       "ExportButton",  "exportbutton",    "Source",         "Reference",
                                       "SourceMask",    "Output",          "",               "exportButton ",
                                       "analysis",      "analysisStart",   "analysisFrames", "analysisWindow"};
  if (fdp.ConsumeIntegralInRange<int>(0, 4) == 0) return fdp.ConsumeRandomLengthString(80);
  return kNames[fdp.ConsumeIntegralInRange<int>(0, 19)];
}

std::string pickType(FuzzedDataProvider &fdp) {
  static const char *const kTypes[] = {kOfxTypeParameter, kOfxTypeParameter, kOfxTypeClip, "OfxTypeclip", "",
                                       "OfxTypeClip "};
  if (fdp.ConsumeIntegralInRange<int>(0, 5) == 0) return fdp.ConsumeRandomLengthString(40);
  return kTypes[fdp.ConsumeIntegralInRange<int>(0, 5)];
}

// An export path that stays inside the scratch folder: a base inside it and
// then any bytes, with ".." broken up so that no step leaves it.
std::string pickPath(FuzzedDataProvider &fdp) {
  std::string base;
  switch (fdp.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return std::string();  // the default: the documents folder
    case 1: base = exportFolder() + "/sub/"; break;
    case 2: base = documentsFolder() + "/"; break;
    default: base = exportFolder() + "/"; break;
  }
  std::string tail;
  static const char *const kTails[] = {"look.cube", "look.cdl", "look", "look.txt", "look.CUBE", ".cube", "",
                                       "adir.cube", "adir.cdl", "afile/x.cube", "sub", "sub/", "50%.cube",
                                       "%s%n%x", "a\\", "nested/missing/"};
  if (fdp.ConsumeBool()) {
    tail = kTails[fdp.ConsumeIntegralInRange<int>(0, 15)];
  } else {
    tail = fdp.ConsumeRandomLengthString(1200);
  }
  if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) tail = std::string(fdp.ConsumeIntegralInRange<size_t>(200, 1100), 'x') + tail;
  std::string path = base + tail;
  path = path.substr(0, path.find('\0'));
  for (size_t i = 1; i < path.size(); ++i)
    if (path[i] == '.' && path[i - 1] == '.') path[i] = '_';
  return path;
}

struct Model {
  bool valid = false;
};

// What the handler should do for one change, and the checks of its outcome.
void change(Instance &inst, tbhost::Host &h, Model &model, bool messages, bool hasName, const std::string &name,
            bool hasType, const std::string &type, const std::function<OfxStatus()> &send) {
  const std::map<std::string, std::string> before = snapshot();
  const size_t messagesBefore = h.messages().size();
  const std::string pathBefore = inst.paramString(kParamExportPath);
  const bool cube = hasName && name == "exportButton";
  const bool cdl = hasName && name == "exportCDLButton";

  const OfxStatus status = send();
  const std::vector<tbhost::Message> all = h.messages();
  const std::vector<tbhost::Message> fresh(all.begin() + static_cast<long>(messagesBefore), all.end());

  if ((cube || cdl) && !model.valid) {
    FUZZ_CHECK(status == kOfxStatOK, "a refused export returned %d", status);
    FUZZ_CHECK(fresh.size() == (messages ? 1u : 0u), "%zu messages for a refused export", fresh.size());
    if (messages)
      FUZZ_CHECK(fresh[0].type == "OfxMessageError" &&
                     fresh[0].text ==
                         "No LUT available. Connect Source and Reference clips and view the result first.",
                 "refusal message '%s'", fresh[0].text.c_str());
    checkFiles(before, snapshot(), std::string(), false);
    return;
  }
  FUZZ_CHECK(status == kOfxStatReplyDefault, "change '%s' / '%s' returned %d", name.c_str(), type.c_str(), status);
  std::string written;
  if (cube || cdl) {
    FUZZ_CHECK(fresh.size() == (messages ? 1u : 0u), "%zu messages for an export", fresh.size());
    if (messages) {
      const std::string saved = cube ? "LUT saved to:\n" : "CDL saved to:\n";
      const std::string failed = cube ? "Failed to save .cube file" : "Failed to save .cdl file";
      if (fresh[0].text.compare(0, saved.size(), saved) == 0) {
        FUZZ_CHECK(fresh[0].type == "OfxMessageMessage", "success as '%s'", fresh[0].type.c_str());
        const std::string reported = fresh[0].text.substr(saved.size());
        FUZZ_CHECK(reported.size() <= 1023, "a path of %zu characters", reported.size());
        char canonical[PATH_MAX];
        FUZZ_CHECK(::realpath(reported.c_str(), canonical) != nullptr, "reported file %s is not there",
                   reported.c_str());
        written = canonical;
        FUZZ_CHECK(written.compare(0, scratchFolder().size(), scratchFolder()) == 0, "%s is outside the scratch folder",
                   written.c_str());
        std::string text;
        FUZZ_CHECK(readFile(written, text), "cannot read %s", written.c_str());
        const std::string problem = cube ? cubeProblem(text) : cdlProblem(text);
        FUZZ_CHECK(problem.empty(), "%s: %s", written.c_str(), problem.c_str());
        if (!pathBefore.empty()) {
          const size_t keep = pathBefore.size() > 5 ? pathBefore.size() - 5 : 0;
          FUZZ_CHECK(reported.compare(0, keep, pathBefore, 0, keep) == 0, "'%s' written for the path '%s'",
                     reported.c_str(), pathBefore.c_str());
        }
        FUZZ_CHECK(inst.paramString(kParamExportPath) == (cube ? reported : pathBefore), "exportPath is now '%s'",
                   inst.paramString(kParamExportPath).c_str());
      } else {
        FUZZ_CHECK(fresh[0].type == "OfxMessageError" && fresh[0].text == failed, "export message '%s' (%s)",
                   fresh[0].text.c_str(), fresh[0].type.c_str());
        FUZZ_CHECK(inst.paramString(kParamExportPath) == pathBefore, "a failed export changed exportPath");
      }
    }
  } else {
    FUZZ_CHECK(fresh.empty(), "a message for the change '%s'", name.c_str());
    FUZZ_CHECK(inst.paramString(kParamExportPath) == pathBefore, "exportPath changed without an export");
  }
  checkFiles(before, snapshot(), written, (cube || cdl) && !messages);

  if (hasName && (name == "rebuildButton" || name == "matchMode" || name == "preserveMode")) model.valid = false;
  if (hasType && type == kOfxTypeClip) model.valid = false;
}

void checkLedger(const Instance &inst) {
  const tbhost::LedgerStats ledger = inst.ledger();
  FUZZ_CHECK(ledger.doubleReleases == 0 && ledger.outstanding.empty(), "images not released exactly once");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  exportFolder();
  emptyFolder(exportFolder(), kFixtures);
  emptyFolder(documentsFolder(), {});
  const bool messages = fdp.ConsumeIntegralInRange<int>(0, 3) != 0;
  const int temporalAccess = fdp.ConsumeIntegralInRange<int>(0, 3) != 0 ? 1 : fdp.ConsumeBool() ? 0 : -1;
  tbhost::Host &h = host(messages, temporalAccess);
  const long liveBefore = h.memory().liveBlocks;
  Instance inst = h.createInstance(kOfxImageEffectContextGeneral);
  FUZZ_CHECK(inst.valid() && inst.createStatus() == kOfxStatOK, "create instance failed");

  // The Reference for every time; the Source at frames 0 and 1, where it is
  // rendered, and at 2 and 3 or not.
  auto picture = [&] {
    std::shared_ptr<Image> image = Image::rgbaFloat(6, 4);
    const float r = fdp.ConsumeProbability<float>(), g = fdp.ConsumeProbability<float>();
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        image->set(x, y, 0, r * static_cast<float>(x) / 5.0f);
        image->set(x, y, 1, g);
        image->set(x, y, 2, static_cast<float>(y) / 3.0f);
        image->set(x, y, 3, 1.0f);
      }
    return image;
  };
  inst.setImage("Source", 0.0, picture());
  inst.setImage("Reference", picture());
  for (int t = 1; t < 4; ++t)
    if (t == 1 || fdp.ConsumeBool()) inst.setImage("Source", t, picture());
  inst.setParam(kParamMatchMode, fdp.ConsumeIntegralInRange<int>(0, 1));
  inst.setParam(kParamPreserveMode, fdp.ConsumeIntegralInRange<int>(0, 2));
  for (const char *param : kAnalysisParams)
    if (fdp.ConsumeBool()) inst.setParam(param, pickSetting(fdp));

  Model model;
  const int steps = fdp.ConsumeIntegralInRange<int>(1, 12);
  for (int step = 0; step < steps && fdp.remaining_bytes() > 0; ++step) {
    switch (fdp.ConsumeIntegralInRange<int>(0, 11)) {
      case 0:
      case 1: {
        const OfxStatus s = inst.render(fdp.ConsumeBool() ? 0.0 : 1.0, OfxRectI{0, 0, 6, 4});
        FUZZ_CHECK(s == kOfxStatOK, "render returned %d", s);
        model.valid = true;
        break;
      }
      case 2:
      case 3: {
        const std::string name = fdp.ConsumeBool() ? "exportButton" : "exportCDLButton";
        change(inst, h, model, messages, true, name, true, kOfxTypeParameter,
               [&] { return inst.instanceChanged(name); });
        break;
      }
      case 4: {
        const std::string name = pickName(fdp), type = pickType(fdp);
        change(inst, h, model, messages, true, name, true, type, [&] { return inst.instanceChanged(name, type); });
        break;
      }
      case 5: {
        // In-arguments with properties missing, of another type or failing.
        const std::string name = pickName(fdp), type = pickType(fdp);
        tbhost::PropertySet in("inArgs");
        bool hasName = false, hasType = false;
        switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
          case 0: break;
          case 1: in.defineInt(kOfxPropName, {7}); break;
          default: in.defineString(kOfxPropName, {name}); hasName = true; break;
        }
        switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
          case 0: break;
          case 1: in.defineDouble(kOfxPropType, {1.0}); break;
          default: in.defineString(kOfxPropType, {type}); hasType = true; break;
        }
        if (fdp.ConsumeBool()) in.defineString(kOfxPropChangeReason, {kOfxChangeUserEdited});
        if (fdp.ConsumeBool()) in.defineDouble(kOfxPropTime, {0.0});
        if (hasName && fdp.ConsumeIntegralInRange<int>(0, 3) == 0) {
          in.failCalls(kOfxPropName, kOfxStatErrUnknown);
          hasName = false;
        }
        if (hasType && fdp.ConsumeIntegralInRange<int>(0, 3) == 0) {
          in.failCalls(kOfxPropType, kOfxStatErrBadIndex);
          hasType = false;
        }
        const bool none = fdp.ConsumeIntegralInRange<int>(0, 9) == 0;
        if (none) hasName = hasType = false;
        change(inst, h, model, messages, hasName, name, hasType, type, [&] {
          return inst.callAction(kOfxActionInstanceChanged, none ? nullptr : &in, nullptr);
        });
        break;
      }
      case 6:
      case 7: {
        const std::string path = pickPath(fdp);
        // Set silently, and now and then reported as a user edit too.
        inst.setParam(kParamExportPath, path);
        if (fdp.ConsumeBool()) {
          change(inst, h, model, messages, true, "exportPath", true, kOfxTypeParameter,
                 [&] { return inst.instanceChanged(kParamExportPath); });
        }
        break;
      }
      case 8: {
        const std::string name = fdp.ConsumeBool() ? "matchMode" : "preserveMode";
        const int value = specialInt(fdp);
        change(inst, h, model, messages, true, name, true, kOfxTypeParameter,
               [&] { return inst.editParam(name, value); });
        break;
      }
      case 9: {
        static const char *const kStrengths[4] = {"strength", "strengthR", "strengthG", "strengthB"};
        const std::string name = kStrengths[fdp.ConsumeIntegralInRange<int>(0, 3)];
        const double value = specialDouble(fdp);
        change(inst, h, model, messages, true, name, true, kOfxTypeParameter,
               [&] { return inst.editParam(name, value); });
        break;
      }
      case 10: {
        // The analysis settings shape the next render's LUT, not the one an
        // export takes now.
        const std::string name = kAnalysisParams[fdp.ConsumeIntegralInRange<int>(0, 4)];
        const int value = pickSetting(fdp);
        change(inst, h, model, messages, true, name, true, kOfxTypeParameter,
               [&] { return inst.editParam(name, static_cast<double>(value)); });
        break;
      }
      case 11: {
        tbhost::PropertySet in("inArgs"), out("outArgs");
        in.defineDouble(kOfxPropTime, {fdp.ConsumeBool() ? static_cast<double>(fdp.ConsumeIntegralInRange<int>(-1, 4))
                                                         : specialDouble(fdp)});
        const size_t messagesBefore = h.messages().size();
        const OfxStatus s = inst.callAction(kOfxImageEffectActionGetFramesNeeded, &in, &out);
        FUZZ_CHECK(s == kOfxStatOK || s == kOfxStatReplyDefault, "frames needed returned %d", s);
        FUZZ_CHECK(h.messages().size() == messagesBefore, "a message for frames needed");
        break;
      }
    }
    checkLedger(inst);
  }

  FUZZ_CHECK(inst.destroy() == kOfxStatOK, "destroy failed");
  checkLedger(inst);
  FUZZ_CHECK(h.memory().liveBlocks == liveBefore, "memory-suite blocks left after destroy");
  return 0;
}
