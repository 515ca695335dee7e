// Internal records of the headless host: the objects behind the OFX handles,
// and the suites. Not part of the public API (see Host.h).
#ifndef TINTBRIDGE_HOST_HOST_INTERNAL_H
#define TINTBRIDGE_HOST_HOST_INTERNAL_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/Host.h"

namespace tbhost {

struct ParamValue {
  std::vector<double> numbers;
  std::shared_ptr<const std::string> text;
};

enum class ParamKind { Int, Double, Text, None };

struct Param {
  static constexpr uint32_t kMagic = 0x5041524du;  // "PARM"
  uint32_t magic = kMagic;
  Effect *owner = nullptr;
  std::string name;
  std::string type;
  ParamKind kind = ParamKind::None;
  int dimension = 0;
  PropertySet props{"param", true};
  mutable std::mutex mutex;  // guards value, keys, retired
  ParamValue value;
  std::map<double, ParamValue> keys;
  // Texts handed out stay valid for the life of the parameter.
  std::vector<std::shared_ptr<const std::string>> retired;

  static Param *fromHandle(OfxParamHandle handle);
  OfxParamHandle handle() { return reinterpret_cast<OfxParamHandle>(this); }
};

struct ParamSet {
  static constexpr uint32_t kMagic = 0x50534554u;  // "PSET"
  uint32_t magic = kMagic;
  Effect *owner = nullptr;
  PropertySet props{"paramSet", true};
  mutable std::mutex mutex;  // guards params
  std::vector<std::unique_ptr<Param>> params;

  Param *find(const std::string &name) const;
  static ParamSet *fromHandle(OfxParamSetHandle handle);
  OfxParamSetHandle handle() { return reinterpret_cast<OfxParamSetHandle>(this); }
};

// An image connected to a clip, with the serial number that names its
// pixels in the image identifier: a new one for each image the host is given.
struct ClipImage {
  std::shared_ptr<Image> image;
  unsigned long long serial = 0;
};

unsigned long long newImageSerial();

struct Clip {
  static constexpr uint32_t kMagic = 0x434c4950u;  // "CLIP"
  uint32_t magic = kMagic;
  Effect *owner = nullptr;
  std::string name;
  PropertySet props{"clip", true};
  mutable std::mutex mutex;  // guards the fields below
  std::map<double, ClipImage> images;
  ClipImage anyTime;
  bool connected = false;
  // The format the plug-in prefers ("" until it was asked): images are
  // converted to it on fetch.
  std::string preferredComponents;
  std::string preferredDepth;
  // Images made on demand for the times that have none of their own, under
  // one serial; each is remembered only while something else holds it.
  Instance::ImageProvider provider;
  unsigned long long providerSerial = 0;
  std::map<double, std::weak_ptr<Image>> provided;
  // The frame range given with setFrameRange, which wins over the images'.
  bool rangeGiven = false;
  double rangeFirst = 0.0;
  double rangeLast = 0.0;

  ClipImage slotAt(double time) const;  // lock held by caller; never asks the provider
  std::shared_ptr<Image> imageAt(double time) const { return slotAt(time).image; }  // lock held
  bool isOutput() const { return name == kOfxImageEffectOutputClipName; }
  static Clip *fromHandle(OfxImageClipHandle handle);
  OfxImageClipHandle handle() { return reinterpret_cast<OfxImageClipHandle>(this); }
};

// The clip's image at `time`: its own image there, else what its provider
// makes (asked with no lock held), else the image for every time. No lock
// held by the caller. A new provided image describes the clip's format.
ClipImage clipImageAt(Clip &clip, double time);
// The clip takes the format of `image`, mapped to the one the plug-in
// prefers. True when the connected format changed.
bool describeImage(Clip &clip, const Image &image);

struct FetchedImage {
  Effect *owner = nullptr;
  PropertySet props{"image", false};
  std::shared_ptr<Image> image;
  ImageRecord record;  // `released` guarded by the owner's ledger lock
};

struct Effect {
  static constexpr uint32_t kMagic = 0x45464354u;  // "EFCT"
  uint32_t magic = kMagic;
  HostState *host = nullptr;
  bool isDescriptor = true;
  std::string context;
  PropertySet props{"effect", true};
  ParamSet paramSet;
  mutable std::mutex mutex;  // guards clips
  std::vector<std::unique_ptr<Clip>> clips;

  // Instances only.
  std::atomic<OfxStatus> createStatus{kOfxStatFailed};
  std::atomic<bool> created{false};
  std::atomic<bool> destroyed{false};
  mutable std::mutex ledgerMutex;
  std::deque<std::unique_ptr<FetchedImage>> fetched;
  long released = 0;
  long doubleReleases = 0;
  // Clip preferences: asked by one thread at a time, with no lock held while
  // the plug-in answers; the others wait for the answer.
  mutable std::mutex prefsMutex;  // guards the fields below
  std::condition_variable prefsAnswered;
  bool prefsStale = false;
  bool prefsAsking = false;
  std::thread::id prefsAsker;
  ClipPreferences prefs;
  // Frames needed: the latest answers, oldest dropped past kMaxFramesNeeded.
  static constexpr size_t kMaxFramesNeeded = 4096;
  mutable std::mutex framesMutex;
  std::deque<FramesNeededRecord> framesNeeded;
  // The image-effect suite's abort: answers 1 once `abortFrom` calls were
  // made (never while it is negative), or while `abortTest` says so.
  std::atomic<long> abortCalls{0};
  std::atomic<long> abortFrom{-1};
  mutable std::mutex abortMutex;  // guards abortTest
  std::function<bool()> abortTest;

  Clip *findClip(const std::string &name) const;
  static Effect *fromHandle(OfxImageEffectHandle handle);
  static Effect *fromHandle(const void *handle) {
    return fromHandle(reinterpret_cast<OfxImageEffectHandle>(const_cast<void *>(handle)));
  }
  OfxImageEffectHandle handle() { return reinterpret_cast<OfxImageEffectHandle>(this); }
};

struct MemoryAccount {
  std::mutex mutex;
  long live = 0;
  long allocations = 0;
  long frees = 0;
  long failed = 0;
  long badFrees = 0;
  long failNext = 0;
  long failAt = 0;  // 0: none; else the allocation count (from the order) that fails
  long requests = 0;
};

struct HostState {
  mutable std::mutex mutex;  // guards everything below that is not atomic
  std::string binaryPath;
  std::string bundlePath;
  std::string lastError;
  void *library = nullptr;
  int (*getNumberOfPlugins)() = nullptr;
  OfxPlugin *(*getPluginFn)(int) = nullptr;
  OfxPlugin *plugin = nullptr;
  std::atomic<OfxPluginEntryPoint *> mainEntry{nullptr};
  bool loaded = false;

  PropertySet hostProps{"host", false};
  OfxHost ofxHost{nullptr, nullptr};
  std::set<std::string> withheld;
  std::vector<FetchRecord> fetches;
  std::vector<Message> messages;
  std::vector<ChangeRecord> changes;
  std::vector<Definition> definitions;
  std::shared_ptr<MemoryAccount> memory = std::make_shared<MemoryAccount>();
  std::atomic<long> badImageReleases{0};
  std::atomic<OfxStatus> questionAnswer{kOfxStatReplyYes};
  std::atomic<double> currentTime{0.0};
  std::atomic<bool> imageIdentifiers{true};

  // Every descriptor and instance, alive until the host goes, so that stale
  // handles never dangle.
  std::deque<std::unique_ptr<Effect>> effects;
  Effect *mainDescriptor = nullptr;
  std::map<std::string, Effect *> contextDescriptors;
};

// An action the plug-in handled or left to the host's default.
inline bool succeeded(OfxStatus status) { return status == kOfxStatOK || status == kOfxStatReplyDefault; }

// Suites.
const OfxImageEffectSuiteV1 *imageEffectSuite();
const OfxParameterSuiteV1 *parameterSuite();
const OfxMemorySuiteV1 *memorySuite();
const OfxMultiThreadSuiteV1 *multiThreadSuite();
const OfxMessageSuiteV1 *messageSuite();
const void *fetchSuite(OfxPropertySetHandle host, const char *name, int version);

// The host whose record the plug-in was last given: the memory and message
// suites answer calls with a null handle on its behalf.
void makeCurrentHost(const std::shared_ptr<HostState> &state);
void forgetCurrentHost(const HostState *state);
std::shared_ptr<HostState> currentHost();

// A new descriptor or instance record, owned by the host.
Effect *newEffect(HostState &state, bool isDescriptor, const std::string &context);
// An instance with the clips and parameters of `descriptor`, before the
// create action.
Effect *newInstance(HostState &state, Effect &descriptor, const std::string &context);
void recordDefinition(HostState &state, Definition definition);

// The bundle directory that holds `binary` (or its folder).
std::string bundleOfBinary(const std::string &binary);

// Calls mainEntry, holding no lock.
OfxStatus callEntry(HostState &state, const char *action, const void *handle, PropertySet *inArgs,
                    PropertySet *outArgs);

// Sends "OfxActionInstanceChanged" to an instance and records it.
OfxStatus sendInstanceChanged(HostState &state, Effect &effect, const std::string &name, const std::string &type,
                              const std::string &reason, double time);

// The render running on this thread (or on the thread that spawned it
// through the multithread suite), which fetches of that effect's inputs
// follow. Regions are in pixels; a clip with none takes the window.
struct RenderContext {
  const Effect *effect = nullptr;
  double time = 0.0;
  double scaleX = 1.0;
  double scaleY = 1.0;
  OfxRectI window{0, 0, 0, 0};
  std::map<std::string, OfxRectI> regions;
};
const RenderContext *activeRender();
void setActiveRender(const RenderContext *context);

// Asks "OfxImageEffectActionGetRegionsOfInterest" for a render of `window`
// and fills `context`; anything but kOfxStatOK means the render cannot run.
OfxStatus askRegionsOfInterest(HostState &state, Effect &effect, double time, OfxRectI window, double scaleX,
                               double scaleY, RenderContext &context);
// What a fetch of `clip` hands out from `slot`: the part it covers (`region`,
// canonical, when the plug-in passed one; else the active render's region
// for the clip; else all of it) within the image's bounds, converted to the
// format the plug-in prefers for the clip. Null when no pixel is left.
std::shared_ptr<Image> deliveredImage(Clip &clip, const ClipImage &slot, const OfxRectD *region);
// A clip's region of definition in canonical coordinates.
OfxRectD canonicalRegion(const Clip &clip, const OfxRectI &bounds);

// Asks "OfxImageEffectActionGetFramesNeeded" at `time` and records the answer.
FramesNeededRecord askFramesNeeded(HostState &state, Effect &effect, double time, bool beforeRender);
// Whether the host descriptor says "OfxImageEffectPropTemporalClipAccess" 1.
bool hostHasTemporalAccess(const HostState &state);

// Clip preferences (ClipPreferences.cpp). `ask` calls the action now;
// `refresh` only when something changed since the last answer.
OfxStatus askClipPreferences(HostState &state, Effect &effect);
OfxStatus refreshClipPreferences(HostState &state, Effect &effect);
void markClipPreferencesStale(Effect &effect);
// "OfxImageOpaque", "OfxImageAlphaPremultiplied" or "OfxImageAlphaUnPremultiplied".
bool isPremultiplication(const std::string &name);

// Parameter values (ParamValue.cpp). "lock held": the parameter's mutex.
ParamKind paramKind(const std::string &type, int &dimension);
ParamValue defaultValue(const Param &param);
ParamValue paramValueAt(const Param &param, double time);                      // lock held
std::vector<double> paramSlopeAt(const Param &param, double time);             // lock held
std::vector<double> paramIntegral(const Param &param, double time1, double time2);  // lock held
void retireValue(Param &param, const ParamValue &value);                       // lock held
void storeParamValue(Param &param, bool atTime, double time, ParamValue value);  // lock held
void dropParamKeys(Param &param);                                              // lock held
// Host-side stores: numbers for numeric types (rounded for integer types),
// text for text types; false for a null parameter or the wrong kind or count.
bool setParamNumbers(Param *param, bool atTime, double time, const std::vector<double> &values);
bool setParamText(Param *param, bool atTime, double time, const std::string &text);

}  // namespace tbhost

#endif
