#include "cli/Commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "cli/Compare.h"
#include "cli/FramePattern.h"
#include "cli/ImageFile.h"
#include "cli/OutputFiles.h"
#include "cli/Platform.h"
#include "host/Host.h"

namespace tbcli {

namespace fs = std::filesystem;

namespace {

int fail(std::ostream &err, const std::string &message) {
  err << "tintbridge: " << message << "\n";
  return kExitFailure;
}

std::string extensionOf(const std::string &path) { return fs::path(path).extension().string(); }
std::string fileNameOf(const std::string &path) { return fs::path(path).filename().string(); }

void replaceAll(std::string &text, const std::string &from, const std::string &to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A loaded bundle with one instance in the general context.
struct LoadedPlugin {
  std::unique_ptr<tbhost::Host> host;
  tbhost::Instance instance;
};

bool loadPlugin(const std::string &plugin, bool makeInstance, LoadedPlugin &loaded, std::string &error) {
  const std::string bundle = findBundle(plugin, error);
  if (bundle.empty()) return false;
  loaded.host.reset(new tbhost::Host(bundle));
  const OfxStatus status = loaded.host->load();
  if (status != kOfxStatOK) {
    const std::string why = loaded.host->lastError();
    error = "cannot load the plug-in bundle '" + bundle + "': " +
            (why.empty() ? "the load action failed (status " + std::to_string(status) + ")" : why);
    return false;
  }
  if (!makeInstance) return true;
  loaded.instance = loaded.host->createInstance(kOfxImageEffectContextGeneral);
  if (!loaded.instance.valid() || loaded.instance.createStatus() != kOfxStatOK) {
    const std::string why = loaded.host->lastError();
    error = "the plug-in in '" + bundle + "' did not create an instance" + (why.empty() ? "" : ": " + why);
    return false;
  }
  return true;
}

// Renders the whole of a width x height frame: at once on one thread, else
// as bands of rows that `threads` threads take in turn, as a host does with a
// fully safe effect.
OfxStatus renderFrame(tbhost::Instance &instance, double time, int width, int height, int threads) {
  if (threads <= 1 || height < 2) return instance.render(time, OfxRectI{0, 0, width, height});
  const int tiles = std::min(height, threads * 4);
  std::atomic<int> next{0};
  std::atomic<OfxStatus> status{kOfxStatOK};
  auto work = [&]() {
    for (int t = next++; t < tiles; t = next++) {
      const int y1 = static_cast<int>(static_cast<long long>(height) * t / tiles);
      const int y2 = static_cast<int>(static_cast<long long>(height) * (t + 1) / tiles);
      const OfxStatus s = instance.render(time, OfxRectI{0, y1, width, y2});
      if (s != kOfxStatOK) status = s;
    }
  };
  std::vector<std::thread> pool;
  for (int i = 0; i < threads; ++i) pool.emplace_back(work);
  for (std::thread &t : pool) t.join();
  return status;
}

// Frames done, speed and time left: a bar redrawn in place on a terminal,
// one line a frame elsewhere.
class Progress {
 public:
  Progress(std::ostream &err, size_t total, bool bar, bool quiet)
      : err_(err), total_(total), bar_(bar), quiet_(quiet), start_(std::chrono::steady_clock::now()) {}

  void frameDone(int frame, const std::string &path) {
    ++done_;
    if (quiet_) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double fps = seconds > 0 ? done_ / seconds : 0.0;
    const long left = fps > 0 ? std::lround((total_ - done_) / fps) : 0;
    char line[256];
    if (bar_) {
      const int width = 30;
      const int filled = static_cast<int>(width * done_ / total_);
      std::string bar(static_cast<size_t>(filled), '#');
      bar.append(static_cast<size_t>(width - filled), '-');
      std::snprintf(line, sizeof line, "\r[%s] %zu/%zu frames  %.1f fps  %ld:%02ld left ", bar.c_str(), done_, total_,
                    fps, left / 60, left % 60);
      err_ << line << (done_ == total_ ? "\n" : "") << std::flush;
    } else {
      std::snprintf(line, sizeof line, "frame %d (%zu/%zu, %.1f fps, %ld:%02ld left): ", frame, done_, total_, fps,
                    left / 60, left % 60);
      err_ << line << path << "\n" << std::flush;
    }
  }

  // Ends a bar that stopped part-way.
  void interrupt() {
    if (bar_ && !quiet_ && done_ > 0 && done_ < total_) err_ << "\n";
  }

 private:
  std::ostream &err_;
  size_t total_;
  size_t done_ = 0;
  bool bar_;
  bool quiet_;
  std::chrono::steady_clock::time_point start_;
};

const char *preserveCaption(int preserve) {
  return preserve == 1 ? "keep brightness" : preserve == 2 ? "keep colors" : "full match";
}

std::string resultCaption(const MatchOptions &o) {
  std::string text = std::string("Result: ") + modeLabel(o.mode) + ", " + preserveCaption(o.preserve);
  if (o.mix != 1.0) {
    char mix[32];
    std::snprintf(mix, sizeof mix, ", mix %.2f", o.mix);
    text += mix;
  }
  return text;
}

bool writeComparison(OutputFiles &files, const std::string &path, const Picture &source, const Picture &reference,
                     const Picture &result, const MatchOptions &o, const std::string &sourceName,
                     const std::string &referenceName, std::string &error) {
  const Picture s = uprightPicture(source), r = uprightPicture(reference), m = uprightPicture(result);
  const Picture picture = makeComparison({{&s, "Source: " + fileNameOf(sourceName)},
                                          {&r, "Reference: " + fileNameOf(referenceName)},
                                          {&m, resultCaption(o)}});
  const std::string temp = files.reserve(path, extensionOf(path));
  if (!writePicture(temp, path, picture, FileDepth::Uint8, error, 85)) {
    error = "cannot write '" + path + "': " + error;
    return false;
  }
  return true;
}

// Presses an export button and passes on what the plug-in says, with the
// temporary name shown as the final one. False when the plug-in reported an
// error or wrote nothing.
bool pressExport(LoadedPlugin &plugin, const std::string &button, const std::string &temp,
                 const std::string &finalPath, std::ostream &out, std::ostream &err) {
  plugin.instance.setParam("exportPath", temp);
  plugin.host->clearMessages();
  plugin.instance.instanceChanged(button);
  bool failed = false;
  for (const tbhost::Message &m : plugin.host->messages()) {
    std::string text = m.text;
    replaceAll(text, temp, finalPath);
    replaceAll(text, "\n", " ");
    if (m.type == kOfxMessageError) {
      failed = true;
      err << "tintbridge: " << text << "\n";
    } else {
      out << text << "\n";
    }
  }
  std::error_code ec;
  if (!failed && !fs::is_regular_file(temp, ec)) {
    err << "tintbridge: the plug-in wrote no file for '" << finalPath << "'\n";
    failed = true;
  }
  return !failed;
}

bool readInput(const std::string &path, Picture &picture, std::string &error) {
  if (readPicture(path, picture, error)) return true;
  error = "cannot read image '" + path + "': " + error;
  return false;
}

std::string stripPrefix(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

std::string joinStripped(const std::vector<std::string> &values, const std::string &prefix) {
  std::string text;
  for (const std::string &v : values) text += (text.empty() ? "" : ", ") + stripPrefix(v, prefix);
  return text;
}

std::string number(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

}  // namespace

std::string findBundle(const std::string &plugin, std::string &error) {
  std::error_code ec;
  if (!plugin.empty()) {
    if (!fs::exists(plugin, ec)) {
      error = "cannot load the plug-in bundle '" + plugin + "': no such file or folder";
      return std::string();
    }
    return plugin;
  }
  std::vector<std::string> candidates;
  const std::string exeFolder = executableFolder();
  if (!exeFolder.empty()) {
    const fs::path up = fs::path(exeFolder).parent_path();
    candidates.push_back((up / "Bridgetint.ofx.bundle").string());
    candidates.push_back((up / "OFX" / "Plugins" / "Bridgetint.ofx.bundle").string());
  }
  candidates.push_back(TINTBRIDGE_BUILD_BUNDLE);
  candidates.push_back(TINTBRIDGE_INSTALL_BUNDLE);
  for (const std::string &c : candidates)
    if (fs::is_regular_file(tbhost::Host::resolveBinaryPath(c), ec)) return c;
  error = "no plug-in bundle found (looked for";
  for (size_t i = 0; i < candidates.size(); ++i) error += (i ? ", " : " ") + candidates[i];
  error += "); name one with --plugin";
  return std::string();
}

std::string helpText() {
  return R"(tintbridge - make one picture look like another, with the Tintbridge OFX plug-in

Usage:
  tintbridge match SOURCE REFERENCE -o OUTPUT [options]
  tintbridge describe [--plugin BUNDLE]
  tintbridge grade INPUT -o OUTPUT [--slope R,G,B] [--offset R,G,B] [--power R,G,B]
                   [--saturation S] [--depth D]
  tintbridge --help | --version

match renders SOURCE through the colour match that carries it onto REFERENCE
and writes the result to OUTPUT, in the format of OUTPUT's extension (EXR,
TIFF, PNG, JPEG, DPX and whatever else OpenImageIO writes).

Options of match:
  -o, --output FILE         the matched picture (required)
  --mode different|same     Different Clips (default): match separate footage;
                            Same Frame: match two grades of the same picture
  --preserve none|brightness|colors
                            keep nothing (default), the Source's brightness,
                            or the Source's colors
  --mix X                   how much of the match to apply, 0 to 1 (default 1)
  --mix-red X, --mix-green X, --mix-blue X
                            per-channel mixes, 0 to 1 (default 1)
  --source-mask FILE        measure only where this matte is at least 0.5
  --reference-mask FILE     the same for the Reference (Different Clips only);
                            a matte is its alpha when that is not opaque
                            everywhere, else its first channel
  --cube FILE               also save the match as a 65-point .cube 3D LUT
  --cdl FILE                also save an ASC CDL fitted to the match
  --compare FILE            also save Source | Reference | Result side by side
  --depth 8|16|half|float   bit depth of OUTPUT (default: that of SOURCE)
  --frames FIRST-LAST       render a sequence: SOURCE, OUTPUT and optionally
                            REFERENCE, the masks and --compare name frames
                            with a pattern such as shot.%04d.exr or
                            shot.####.exr; each frame is matched at its own
                            time; .cube and .cdl hold the last frame's match
  --threads N               render each frame as tiles on N threads
                            (default: one per processor)
  --plugin BUNDLE           the Bridgetint.ofx.bundle to load (default: the
                            one built beside this command, else the
                            installed one)
  -q, --quiet               no progress lines

describe lists what a host sees of the plug-in: its label, grouping,
contexts, clips and parameters with their labels, defaults and ranges.

grade applies an ASC CDL grade (slope, offset, power, then saturation) to a
picture, to make test material.

Files appear whole or not at all. On any error the command says why, writes
nothing and exits with status 2.

Example:
  tintbridge match day.png night.jpg -o day-as-night.png --preserve brightness \
      --cube day-to-night.cube --compare check.jpg
)";
}

int runDescribe(const std::string &pluginPath, std::ostream &out, std::ostream &err) {
  LoadedPlugin plugin;
  std::string error;
  if (!loadPlugin(pluginPath, false, plugin, error)) return fail(err, error);
  tbhost::Host &host = *plugin.host;
  if (host.describe() != kOfxStatOK || host.descriptor() == nullptr)
    return fail(err, "the plug-in did not describe itself");
  const tbhost::PropertySet &d = *host.descriptor();
  const std::vector<std::string> contexts = d.getStrings(kOfxImageEffectPropSupportedContexts);
  std::string context = kOfxImageEffectContextGeneral;
  if (std::find(contexts.begin(), contexts.end(), context) == contexts.end() && !contexts.empty())
    context = contexts.front();
  if (host.describeInContext(context) != kOfxStatOK)
    return fail(err, "the plug-in did not describe itself in the " + stripPrefix(context, "OfxImageEffectContext") +
                         " context");
  const OfxPlugin *record = host.plugin();

  out << d.getString(kOfxPropLabel) << "  (" << (record ? record->pluginIdentifier : "?") << " "
      << (record ? record->pluginVersionMajor : 0) << "." << (record ? record->pluginVersionMinor : 0) << ")\n";
  out << "  module:         " << host.binaryPath() << "\n";
  out << "  grouping:       " << d.getString(kOfxImageEffectPluginPropGrouping) << "\n";
  out << "  contexts:       " << joinStripped(contexts, "OfxImageEffectContext") << "\n";
  out << "  pixel depths:   "
      << joinStripped(d.getStrings(kOfxImageEffectPropSupportedPixelDepths), "OfxBitDepth") << "\n";
  out << "  render threads: " << stripPrefix(d.getString(kOfxImageEffectPluginRenderThreadSafety), "OfxImageEffectRender")
      << ", tiles " << (d.getInt(kOfxImageEffectPropSupportsTiles) ? "yes" : "no") << "\n";

  const std::vector<tbhost::Definition> defs = host.definitions(context);
  char line[512];
  out << "\nClips (" << stripPrefix(context, "OfxImageEffectContext") << " context)\n";
  for (const tbhost::Definition &def : defs) {
    if (def.kind != tbhost::DefinitionKind::Clip || def.properties == nullptr) continue;
    const tbhost::PropertySet &p = *def.properties;
    std::string flags;
    if (p.getInt(kOfxImageClipPropOptional)) flags += "optional";
    if (p.getInt(kOfxImageClipPropIsMask)) flags += flags.empty() ? "mask" : ", mask";
    std::snprintf(line, sizeof line, "  %-14s %-16s %-18s %s\n", def.name.c_str(),
                  p.getString(kOfxPropLabel, 0, def.name).c_str(),
                  joinStripped(p.getStrings(kOfxImageEffectPropSupportedComponents), "OfxImageComponent").c_str(),
                  flags.c_str());
    out << line;
  }
  out << "\nParameters\n";
  for (const tbhost::Definition &def : defs) {
    if (def.kind != tbhost::DefinitionKind::Param || def.properties == nullptr) continue;
    const tbhost::PropertySet &p = *def.properties;
    const std::string type = def.paramType;
    std::string detail;
    if (type == kOfxParamTypeDouble || type == kOfxParamTypeInteger) {
      detail = (type == kOfxParamTypeDouble ? "number" : "integer");
      detail += "   default " + number(p.getDouble(kOfxParamPropDefault, 0, p.getInt(kOfxParamPropDefault)));
      if (p.has(kOfxParamPropMin) || p.has(kOfxParamPropMax))
        detail += ", range " + number(p.getDouble(kOfxParamPropMin)) + " to " + number(p.getDouble(kOfxParamPropMax));
      if (p.has(kOfxParamPropIncrement)) detail += ", step " + number(p.getDouble(kOfxParamPropIncrement));
    } else if (type == kOfxParamTypeChoice) {
      const std::vector<std::string> options = p.getStrings(kOfxParamPropChoiceOption);
      const int fallback = p.getInt(kOfxParamPropDefault);
      std::string list;
      for (size_t i = 0; i < options.size(); ++i) list += (i ? " | " : "") + options[i];
      detail = "choice   default \"" +
               (fallback >= 0 && fallback < static_cast<int>(options.size()) ? options[fallback] : std::to_string(fallback)) +
               "\", options " + list;
    } else if (type == kOfxParamTypeString) {
      const bool isPath = p.getString(kOfxParamPropStringMode) == kOfxParamStringIsFilePath;
      detail = std::string(isPath ? "file path" : "text") + "   default \"" + p.getString(kOfxParamPropDefault) + "\"";
    } else if (type == kOfxParamTypePushButton) {
      detail = "button";
    } else {
      detail = stripPrefix(type, "OfxParamType");
    }
    std::snprintf(line, sizeof line, "  %-16s %-18s %s\n", def.name.c_str(), p.getString(kOfxPropLabel, 0, def.name).c_str(),
                  detail.c_str());
    out << line;
  }
  return kExitOk;
}

int runMatch(const MatchOptions &o, std::ostream &out, std::ostream &err) {
  const FramePattern source(o.source), reference(o.reference), output(o.output);
  const FramePattern sourceMask(o.sourceMask), referenceMask(o.referenceMask), compare(o.compare);
  const bool sequence = source.isSequence();

  // Everything that can be checked is checked before any file is written.
  if (sequence && !o.framesGiven)
    return fail(err, "SOURCE '" + o.source + "' names a sequence: give its frames with --frames FIRST-LAST");
  if (!sequence && o.framesGiven)
    return fail(err, "--frames needs a SOURCE with a frame number pattern, such as shot.%04d.exr or shot.####.exr");
  if (sequence && !output.isSequence())
    return fail(err, "OUTPUT '" + o.output + "' needs a frame number pattern, as SOURCE has one");
  if (!sequence) {
    for (const FramePattern *p : {&reference, &output, &sourceMask, &referenceMask, &compare})
      if (p->isSequence()) return fail(err, "'" + p->text() + "' has a frame number pattern, but SOURCE is a still");
  }
  std::vector<int> frames;
  if (sequence) {
    if (static_cast<long long>(o.lastFrame) - o.firstFrame >= 1000000) return fail(err, "--frames names too many frames");
    for (int f = o.firstFrame; f <= o.lastFrame; ++f) frames.push_back(f);
  } else {
    frames.push_back(0);
  }

  const std::vector<std::pair<const char *, const std::string *>> outputs = {
      {"OUTPUT", &o.output}, {"--cube", &o.cube}, {"--cdl", &o.cdl}, {"--compare", &o.compare}};
  for (const auto &entry : outputs) {
    if (entry.second->empty()) continue;
    const std::string path = FramePattern(*entry.second).path(frames.front());
    if (!folderExists(path)) return fail(err, "output folder '" + folderOf(path) + "' does not exist");
  }
  for (const std::string *path : {&o.output, &o.compare}) {
    if (!path->empty() && !canWriteFormat(FramePattern(*path).path(frames.front())))
      return fail(err, "no image format for the extension of '" + *path + "'");
  }
  std::set<std::string> outputNames;
  for (const auto &entry : outputs)
    if (!entry.second->empty() && !outputNames.insert(*entry.second).second)
      return fail(err, "'" + *entry.second + "' is named for two outputs");

  std::set<std::string> checked;
  for (int frame : frames) {
    for (const FramePattern *p : {&source, &reference, &sourceMask, &referenceMask}) {
      if (p->text().empty()) continue;
      const std::string path = p->path(frame);
      if (!checked.insert(path).second) continue;
      std::error_code ec;
      if (!fs::is_regular_file(path, ec))
        return fail(err, "cannot read image '" + path + "': " + (fs::exists(path, ec) ? "not a file" : "no such file"));
    }
  }

  LoadedPlugin plugin;
  std::string error;
  if (!loadPlugin(o.plugin, true, plugin, error)) return fail(err, error);
  tbhost::Instance &instance = plugin.instance;
  instance.setParam("strength", o.mix);
  instance.setParam("strengthR", o.mixRed);
  instance.setParam("strengthG", o.mixGreen);
  instance.setParam("strengthB", o.mixBlue);
  instance.setParam("matchMode", o.mode);
  instance.setParam("preserveMode", o.preserve);

  int threads = o.threads;
  if (threads <= 0) threads = std::max(1, std::min(16, static_cast<int>(std::thread::hardware_concurrency())));

  // Stills go in once, for every time; sequences frame by frame.
  Picture referencePicture;
  auto connectStill = [&](const FramePattern &p, const char *clip, bool mask, Picture *keep) -> bool {
    if (p.text().empty() || p.isSequence()) return true;
    Picture picture;
    if (!readInput(p.path(0), picture, error)) return false;
    instance.setImage(clip, mask ? toHostMask(picture) : toHostImage(picture));
    if (keep) *keep = std::move(picture);
    return true;
  };
  if (!connectStill(reference, "Reference", false, &referencePicture) ||
      !connectStill(sourceMask, "SourceMask", true, nullptr) ||
      !connectStill(referenceMask, "ReferenceMask", true, nullptr))
    return fail(err, error);

  OutputFiles files;
  Progress progress(err, frames.size(), sequence && &err == &std::cerr && stderrIsTerminal(), o.quiet || !sequence);
  Picture lastSource, lastResult;
  for (int frame : frames) {
    const double time = sequence ? frame : 0.0;
    Picture sourcePicture;
    if (!readInput(source.path(frame), sourcePicture, error)) {
      progress.interrupt();
      return fail(err, error);
    }
    auto connectFrame = [&](const FramePattern &p, const char *clip, bool mask, Picture *keep) -> bool {
      if (!p.isSequence()) return true;
      Picture picture;
      if (!readInput(p.path(frame), picture, error)) return false;
      instance.setImage(clip, time, mask ? toHostMask(picture) : toHostImage(picture));
      if (keep) *keep = std::move(picture);
      return true;
    };
    if (!connectFrame(reference, "Reference", false, &referencePicture) ||
        !connectFrame(sourceMask, "SourceMask", true, nullptr) ||
        !connectFrame(referenceMask, "ReferenceMask", true, nullptr)) {
      progress.interrupt();
      return fail(err, error);
    }
    instance.setImage("Source", time, toHostImage(sourcePicture));
    auto outputImage = tbhost::Image::rgbaFloat(sourcePicture.width, sourcePicture.height);
    instance.setImage("Output", time, outputImage);

    const OfxStatus status = renderFrame(instance, time, sourcePicture.width, sourcePicture.height, threads);
    if (status != kOfxStatOK) {
      progress.interrupt();
      return fail(err, "the plug-in failed to render " + (sequence ? "frame " + std::to_string(frame) : "the picture") +
                           " (status " + std::to_string(status) + ")");
    }
    // Anything the plug-in said while rendering is passed on too.
    for (const tbhost::Message &m : plugin.host->messages()) {
      std::string text = m.text;
      replaceAll(text, "\n", " ");
      (m.type == kOfxMessageError ? err : out) << (m.type == kOfxMessageError ? "tintbridge: " : "") << text << "\n";
    }
    plugin.host->clearMessages();
    const FileDepth depth = o.depthGiven ? o.depth : sourcePicture.depth;
    Picture result = fromHostImage(*outputImage, sourcePicture.hasAlpha, depth);
    // A 10- or 12-bit source stays so, unless another depth was asked for.
    if (!o.depthGiven) result.bitsPerSample = sourcePicture.bitsPerSample;
    result.orientation = sourcePicture.orientation;

    const std::string outputPath = output.path(frame);
    const std::string temp = files.reserve(outputPath, extensionOf(outputPath));
    if (!writePicture(temp, outputPath, result, depth, error)) {
      progress.interrupt();
      return fail(err, "cannot write '" + outputPath + "': " + error);
    }
    if (compare.isSequence() &&
        !writeComparison(files, compare.path(frame), sourcePicture, referencePicture, result, o,
                         source.path(frame), reference.path(frame), error)) {
      progress.interrupt();
      return fail(err, error);
    }
    if (sequence && !files.commit(error)) {
      progress.interrupt();
      return fail(err, error);
    }
    for (const char *clip : {"Source", "Output"}) instance.clearImages(clip);
    if (reference.isSequence()) instance.clearImages("Reference");
    if (sourceMask.isSequence()) instance.clearImages("SourceMask");
    if (referenceMask.isSequence()) instance.clearImages("ReferenceMask");
    progress.frameDone(frame, outputPath);
    lastSource = std::move(sourcePicture);
    lastResult = std::move(result);
  }

  // The exports hold the match of the last frame rendered.
  std::vector<std::string> written;
  if (!sequence) written.push_back(o.output);
  if (!o.cube.empty()) {
    const std::string temp = files.reserve(o.cube, ".cube");
    if (!pressExport(plugin, "exportButton", temp, o.cube, out, err)) return kExitFailure;
  }
  if (!o.cdl.empty()) {
    const std::string temp = files.reserve(o.cdl, ".cdl");
    if (!pressExport(plugin, "exportCDLButton", temp, o.cdl, out, err)) return kExitFailure;
  }
  if (!o.compare.empty() && !compare.isSequence()) {
    if (!writeComparison(files, o.compare, lastSource, referencePicture, lastResult, o, source.path(frames.back()),
                         reference.path(frames.back()), error))
      return fail(err, error);
    written.push_back(o.compare);
  }
  if (!files.commit(error)) return fail(err, error);
  for (const std::string &w : written) out << "wrote " << w << "\n";
  if (sequence)
    out << "wrote " << frames.size() << " frame" << (frames.size() == 1 ? "" : "s") << " of " << o.output << "\n";
  instance.destroy();
  return kExitOk;
}

void applyGrade(const GradeOptions &g, float rgb[3]) {
  for (int c = 0; c < 3; ++c) {
    double v = rgb[c] * g.slope[c] + g.offset[c];
    v = v > 0.0 ? std::pow(v, g.power[c]) : 0.0;
    rgb[c] = static_cast<float>(v);
  }
  const double luma = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
  for (int c = 0; c < 3; ++c) rgb[c] = static_cast<float>(luma + g.saturation * (rgb[c] - luma));
}

int runGrade(const GradeOptions &o, std::ostream &out, std::ostream &err) {
  if (!folderExists(o.output)) return fail(err, "output folder '" + folderOf(o.output) + "' does not exist");
  if (!canWriteFormat(o.output)) return fail(err, "no image format for the extension of '" + o.output + "'");
  Picture picture;
  std::string error;
  if (!readInput(o.input, picture, error)) return fail(err, error);
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) applyGrade(o, picture.pixel(x, y));
  OutputFiles files;
  const std::string temp = files.reserve(o.output, extensionOf(o.output));
  if (o.depthGiven) picture.bitsPerSample = 0;
  if (!writePicture(temp, o.output, picture, o.depthGiven ? o.depth : picture.depth, error))
    return fail(err, "cannot write '" + o.output + "': " + error);
  if (!files.commit(error)) return fail(err, error);
  out << "wrote " << o.output << "\n";
  return kExitOk;
}

int runCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const char *tryHelp = "Try 'tintbridge --help'.\n";
  if (args.empty()) {
    err << helpText();
    return kExitFailure;
  }
  const std::string &command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  bool help = command == "--help" || command == "-h" || command == "help";
  for (const std::string &a : rest) {
    if (a == "--") break;
    help = help || a == "--help" || a == "-h";
  }
  if (help) {
    out << helpText();
    return kExitOk;
  }
  if (command == "--version") {
    out << "tintbridge 1.0\n";
    return kExitOk;
  }
  if (command == "match") {
    MatchOptions options;
    const std::string problem = parseMatchOptions(rest, options);
    if (!problem.empty()) {
      fail(err, problem);
      err << tryHelp;
      return kExitFailure;
    }
    return runMatch(options, out, err);
  }
  if (command == "grade") {
    GradeOptions options;
    const std::string problem = parseGradeOptions(rest, options);
    if (!problem.empty()) {
      fail(err, problem);
      err << tryHelp;
      return kExitFailure;
    }
    return runGrade(options, out, err);
  }
  if (command == "describe") {
    std::string plugin;
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == "--plugin" && i + 1 < rest.size() && !rest[i + 1].empty()) {
        plugin = rest[++i];
      } else if (rest[i].compare(0, 9, "--plugin=") == 0 && rest[i].size() > 9) {
        plugin = rest[i].substr(9);
      } else {
        fail(err, rest[i] == "--plugin" ? "option '--plugin' needs a value" : "unknown option '" + rest[i] + "'");
        err << tryHelp;
        return kExitFailure;
      }
    }
    return runDescribe(plugin, out, err);
  }
  fail(err, "unknown command '" + command + "'");
  err << tryHelp;
  return kExitFailure;
}

}  // namespace tbcli
