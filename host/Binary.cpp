// Loading the plug-in's binary: where a bundle keeps it, opening it (through
// Platform.h), its two exported functions, and closing it again.
#include <filesystem>

#include "host/HostInternal.h"
#include "host/Platform.h"

#ifndef TINTBRIDGE_OFX_ARCH
#define TINTBRIDGE_OFX_ARCH "Linux-x86-64"
#endif

namespace tbhost {

std::string bundleOfBinary(const std::string &binary) {
  namespace fs = std::filesystem;
  fs::path p(binary);
  fs::path contents = p.parent_path().parent_path();
  if (contents.filename() == "Contents") return contents.parent_path().string();
  return p.parent_path().string();
}

std::string Host::resolveBinaryPath(const std::string &path) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  fs::path p(trimmed);
  if (!fs::is_directory(p, error)) return path;
  std::string name = p.filename().string();
  const std::string suffix = ".bundle";
  if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name.erase(name.size() - suffix.size());
  }
  return (p / "Contents" / TINTBRIDGE_OFX_ARCH / name).string();
}

bool Host::open() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->library) return true;
  std::string error;
  void *library = openLibrary(state_->binaryPath, error);
  if (!library) {
    state_->lastError = "cannot load " + state_->binaryPath + ": " + error;
    return false;
  }
  auto count = reinterpret_cast<int (*)()>(librarySymbol(library, "OfxGetNumberOfPlugins"));
  auto get = reinterpret_cast<OfxPlugin *(*)(int)>(librarySymbol(library, "OfxGetPlugin"));
  if (!count || !get) {
    closeLibrary(library);
    state_->lastError = state_->binaryPath + " does not export OfxGetNumberOfPlugins and OfxGetPlugin";
    return false;
  }
  state_->library = library;
  state_->getNumberOfPlugins = count;
  state_->getPluginFn = get;
  return true;
}

bool Host::isOpen() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->library != nullptr;
}

int Host::numberOfPlugins() {
  int (*count)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    count = state_->getNumberOfPlugins;
  }
  return count ? count() : -1;
}

OfxPlugin *Host::getPlugin(int nth) {
  OfxPlugin *(*get)(int) = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    get = state_->getPluginFn;
  }
  return get ? get(nth) : nullptr;
}

void Host::close() {
  std::vector<Effect *> live;
  bool loaded;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const auto &e : state_->effects) {
      if (!e->isDescriptor && e->created && !e->destroyed) live.push_back(e.get());
    }
    loaded = state_->loaded;
  }
  for (Effect *e : live) Instance(state_, e, kOfxStatOK).destroy();
  if (loaded) unload();
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->mainEntry.store(nullptr);
  closeLibrary(state_->library);
  state_->library = nullptr;
  state_->getNumberOfPlugins = nullptr;
  state_->getPluginFn = nullptr;
  state_->plugin = nullptr;
  state_->mainDescriptor = nullptr;
  state_->contextDescriptors.clear();
}

}  // namespace tbhost
