#include "cli/PluginSession.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "cli/Platform.h"
#include "plugin/Names.h"

namespace tbcli {

namespace fs = std::filesystem;

void replaceAll(std::string &text, const std::string &from, const std::string &to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

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

PluginSession::~PluginSession() {
  const auto quiet = quietPlugin(*this);
  host.reset();
}

std::unique_ptr<StderrFilter> quietPlugin(const PluginSession &session) {
  return session.verbose ? nullptr : std::unique_ptr<StderrFilter>(new StderrFilter("Tintbridge: "));
}

bool openSession(const std::string &plugin, bool makeInstance, PluginSession &session, std::string &error) {
  const std::string bundle = findBundle(plugin, error);
  if (bundle.empty()) return false;
  // A bare module name is a file here, not one for the loader to search for.
  std::error_code ec;
  const fs::path absolute = fs::absolute(bundle, ec);
  const auto quiet = quietPlugin(session);
  session.host.reset(new tbhost::Host(ec ? bundle : absolute.string()));
  const OfxStatus status = session.host->load();
  if (status != kOfxStatOK) {
    const std::string why = session.host->lastError();
    error = "cannot load the plug-in bundle '" + bundle + "': " +
            (why.empty() ? "the load action failed (status " + std::to_string(status) + ")" : why);
    return false;
  }
  if (!makeInstance) return true;
  session.instance = session.host->createInstance(kOfxImageEffectContextGeneral);
  if (!session.instance.valid() || session.instance.createStatus() != kOfxStatOK) {
    const std::string why = session.host->lastError();
    error = "the plug-in in '" + bundle + "' did not create an instance" + (why.empty() ? "" : ": " + why);
    return false;
  }
  return true;
}

OfxStatus renderFrame(PluginSession &session, double time, int width, int height, int threads) {
  tbhost::Instance &instance = session.instance;
  const auto quiet = quietPlugin(session);
  if (threads <= 1 || height < 2) return instance.render(time, OfxRectI{0, 0, width, height});
  const int tiles = std::min(height, threads * 4);
  std::atomic<int> next{0};
  std::atomic<OfxStatus> status{kOfxStatOK};
  std::atomic<bool> stop{false};
  std::exception_ptr thrown;
  std::mutex thrownLock;
  // An interruption lets the tiles in progress finish and starts no more; an
  // exception stops the others too and goes on in the calling thread.
  auto work = [&]() {
    try {
      for (int t = next++; t < tiles && !stop && interruption() == 0; t = next++) {
        const int y1 = static_cast<int>(static_cast<long long>(height) * t / tiles);
        const int y2 = static_cast<int>(static_cast<long long>(height) * (t + 1) / tiles);
        const OfxStatus s = instance.render(time, OfxRectI{0, y1, width, y2});
        if (s != kOfxStatOK) status = s;
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(thrownLock);
      if (!thrown) thrown = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> pool;
  try {
    for (int i = 0; i < threads; ++i) pool.emplace_back(work);
  } catch (...) {
    stop = true;
    for (std::thread &t : pool) t.join();
    throw;
  }
  for (std::thread &t : pool) t.join();
  if (thrown) std::rethrow_exception(thrown);
  return interruption() != 0 && status == kOfxStatOK ? kOfxStatFailed : status.load();
}

void passOnMessages(PluginSession &session, std::ostream &out, std::ostream &err) {
  for (const tbhost::Message &m : session.host->messages()) {
    std::string text = m.text;
    replaceAll(text, "\n", " ");
    (m.type == kOfxMessageError ? err : out) << (m.type == kOfxMessageError ? "tintbridge: " : "") << text << "\n";
  }
  session.host->clearMessages();
}

bool pressExport(PluginSession &session, const std::string &button, const std::string &temp,
                 const std::string &finalPath, std::vector<std::string> &notes, std::string &error) {
  session.instance.setParam(kParamExportPath, temp);
  session.host->clearMessages();
  {
    const auto quiet = quietPlugin(session);
    session.instance.instanceChanged(button);
  }
  error.clear();
  for (const tbhost::Message &m : session.host->messages()) {
    std::string text = m.text;
    replaceAll(text, temp, finalPath);
    replaceAll(text, "\n", " ");
    if (m.type != kOfxMessageError)
      notes.push_back(text);
    else if (error.empty())
      error = "cannot write '" + finalPath + "': " + text;
  }
  session.host->clearMessages();
  std::error_code ec;
  if (error.empty() && !(fs::file_size(temp, ec) > 0 && !ec))
    error = "cannot write '" + finalPath + "': the plug-in wrote nothing";
  return error.empty();
}

}  // namespace tbcli
