// tbhost: a headless OFX image-effect host, for tests, benchmarks and the
// `tintbridge` command.
//
// Typical use:
//
//   tbhost::Host host(pathToBinaryOrBundle);       // "X.ofx" or "X.ofx.bundle"
//   if (host.load() != kOfxStatOK) { ... host.lastError() ... }
//   tbhost::Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
//   inst.setImage("Source", 0.0, tbhost::Image::rgbaFloat(64, 32));
//   inst.setImage("Reference", 0.0, referenceImage);
//   inst.setParam("strength", 0.5);                 // silent, like loading a project
//   OfxStatus s = inst.render(0.0, OfxRectI{0, 0, 64, 32});
//   std::shared_ptr<tbhost::Image> out = inst.image("Output", 0.0);
//   inst.instanceChanged("rebuildButton");           // a user edit, as a host sends it
//   inst.destroy();                                  // also done by ~Host
//
// Loading. `load()` opens the binary (dlopen / LoadLibrary), resolves
// OfxGetNumberOfPlugins and OfxGetPlugin, checks the first plug-in record
// (api "OfxImageEffectPluginAPI", version 1), calls setHost and then the load
// action. `describe()` and `describeInContext()` run on demand;
// `createInstance()` runs whatever is still missing. `unload()` sends the
// unload action; `close()` also unloads the binary, after which `load()`
// opens it again. Before `load()`, `withholdSuite(name)` makes fetchSuite
// answer null for that suite, and `setTemporalAccess(0)` or
// `removeTemporalAccess()` makes a host without temporal access.
//
// What the host records, for tests:
//  - `fetches()`: every fetchSuite call, in order;
//  - `definitions()`: every clip and parameter the plug-in defined, in order,
//    with the property set it described them on; `PropertySet::writes()`
//    lists the plug-in's property calls on any set in order (the effect
//    descriptor is `descriptor()`, per context `contextDescriptor(c)`);
//  - `messages()`: every message-suite call with the formatted text;
//  - `changes()`: every instance-changed action the host sent, the
//    re-entrant ones from paramSetValue included (depth > 0);
//  - `memory()`: live blocks of the memory suite and its failures, which
//    `failNextAllocations` / `failAllocation` inject;
//  - `Instance::ledger()`: images fetched and released, double releases and
//    those still outstanding; `Instance::fetchedImages()`: each image as it
//    was handed out (bounds, format, identifier);
//  - `Instance::clipPreferences()`: the plug-in's last clip preferences;
//  - `Instance::framesNeededRecords()`: every frames-needed call and answer;
//  - `Instance::abortCalls()`: how often the plug-in asked the suite's abort.
//
// Images. Clips hold images per time (`setImage(clip, time, image)`) or one
// image for every time (`setImage(clip, image)`), or make them on demand:
// `setImageProvider(clip, fn)` calls fn(time) at each fetch of a time that
// has no image of its own, instead of using the image for every time. A
// provided image lives as long as something holds it, so one that was
// fetched and released is gone unless the provider keeps it; while it is
// held, fetches and regions of definition at its time reuse it. A clip is
// connected once it has an image or a provider, unless
// `setClipConnected(clip, false)`. A fetch with no image at that time (the
// provider answering null: a frame the host cannot give) fails with
// kOfxStatFailed. Each clip's "OfxImageEffectPropFrameRange" and
// "OfxImageEffectPropUnmappedFrameRange" run from its first to its last
// image set for a time, {0, 100} when it has none, or what
// `setFrameRange(clip, first, last)` gave. If the Output clip has no
// image when `render` runs, one is made in the Output's preferred format
// (by default Source's depth and components) at Source's bounds (or the
// render window when Source has no image). `setImage` is silent, like an
// upstream edit or loading a project; `editImage` is a user connecting
// another picture: the host asks the clip preferences again and sends
// "OfxActionInstanceChanged" for the clip ("OfxTypeClip").
//
// What an input image covers. Before each render (each tile) the host asks
// "OfxImageEffectActionGetRegionsOfInterest" with the render window; a fetch
// of an input clip during the render then covers the region the plug-in
// asked for (the render window when it answers kOfxStatReplyDefault),
// intersected with the clip's region of definition, the bounds of its image.
// A region passed to clipGetImage wins over both; outside renders a fetch
// covers the whole image. Output images are always handed out whole. Images
// are held at the render's resolution: canonical = pixel / render scale.
//
// Formats. After creation, and before the next render once a clip was
// connected or changed format, the host asks
// "OfxImageEffectActionGetClipPreferences" (`clipPreferences()` keeps the
// answer). Inputs whose preferred components or depth differ from the
// connected image's are converted on fetch: RGB to RGBA with alpha 1; RGBA
// or RGB to Alpha by taking a real alpha, else by Rec. 709 luminance; Alpha
// to RGB or RGBA by repeating it. Every image carries
// "OfxImagePropUniqueIdentifier", new whenever the clip's pixels at that
// time are replaced (or converted differently), unless
// `giveImageIdentifiers(false)`; and its clip's
// "OfxImageEffectPropPreMultiplication" (`setPremultiplication`).
//
// Temporal access. The host descriptor says
// "OfxImageEffectPropTemporalClipAccess" 1, so a render may fetch inputs at
// any time; without it (0 or absent) a fetch during a render at another
// time than the render's fails with kOfxStatFailed. When the plug-in's
// descriptor declares temporal access too, the host asks
// "OfxImageEffectActionGetFramesNeeded" before each render (each tile):
// outArgs hold "OfxImageClipPropFrameRange_<clip>" for every input clip,
// set to (time, time). As hosts built on the standard's support library do,
// the answer is recorded but fetches are not held to it; an error status
// fails the render. `framesNeeded(time)` asks at any time. The suite's
// abort answers 0 unless `abortAfter(n)` or `setAbort(test)` says otherwise.
//
// Parameters hold a value, or keys over time (`setParamAt`) interpolated
// linearly for double-valued types and held for the others. A paramSetValue
// made by the plug-in on an instance sends "OfxActionInstanceChanged" for that
// parameter ("OfxTypeParameter", "OfxChangePluginEdited") on the same thread
// before it returns.
//
// Threads. Every method may be called from several threads; several threads
// may render one instance at once. The host guards its own state with locks
// and never holds one while it calls into the plug-in.
#ifndef TINTBRIDGE_HOST_HOST_H
#define TINTBRIDGE_HOST_HOST_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Image.h"
#include "host/PropertySet.h"
#include "ofx/OfxApi.h"

namespace tbhost {

struct HostState;
struct Effect;

struct FetchRecord {
  std::string name;
  int version = 0;
  bool given = false;
};

struct Message {
  void *handle = nullptr;
  std::string type;
  std::string id;  // "" when the plug-in passed null
  bool idWasNull = false;
  std::string text;
};

struct ChangeRecord {
  std::string name;
  std::string type;
  std::string reason;
  double time = 0.0;
  OfxStatus status = kOfxStatOK;
  int depth = 0;  // 0: sent by the host; 1 and more: from inside paramSetValue
};

enum class DefinitionKind { Clip, Param };

struct Definition {
  DefinitionKind kind = DefinitionKind::Clip;
  std::string context;    // of the descriptor it was defined on; "" for the main one
  std::string name;
  std::string paramType;  // parameters only
  const PropertySet *properties = nullptr;
};

struct MemoryStats {
  long liveBlocks = 0;
  long allocations = 0;        // successful
  long frees = 0;
  long failedAllocations = 0;  // injected failures
  long badFrees = 0;           // pointers the suite never handed out
};

struct LedgerStats {
  long fetched = 0;
  long released = 0;
  long doubleReleases = 0;
  std::vector<std::string> outstanding;  // "clip@time" of each image not released
};

struct RenderArgs {
  double time = 0.0;
  OfxRectI window{0, 0, 0, 0};
  double renderScaleX = 1.0;
  double renderScaleY = 1.0;
  std::string field = "OfxFieldNone";
  // Runs on the in-arguments just before the call (remove or fault properties).
  std::function<void(PropertySet &)> editInArgs;
};

// One image handed out by clipGetImage, as it was handed out.
struct ImageRecord {
  std::string clip;
  double time = 0.0;
  OfxRectI bounds{0, 0, 0, 0};
  std::string components;
  std::string depth;
  std::string premultiplication;
  std::string identifier;  // "" when the host gives none
  bool released = false;
};

// One clip's format after the clip-preferences action.
struct ClipPreference {
  std::string clip;
  std::string components;
  std::string depth;
  double pixelAspectRatio = 1.0;
};

// The last answer to "OfxImageEffectActionGetClipPreferences", as applied:
// the plug-in's values where it set valid ones, the host's defaults for the
// rest (all defaults unless it answered kOfxStatOK).
struct ClipPreferences {
  int calls = 0;  // how many times the host asked
  OfxStatus status = kOfxStatReplyDefault;
  std::vector<ClipPreference> clips;  // the connected inputs and Output, in clip order
  std::string premultiplication;      // of the output
  bool continuousSamples = false;
  bool frameVarying = false;
  std::vector<PropertyWrite> writes;  // what the plug-in wrote to outArgs
};

// Frames first to last, both included.
struct FrameRange {
  double first = 0.0;
  double last = 0.0;
};

// One "OfxImageEffectActionGetFramesNeeded" call and what it left in outArgs.
struct FramesNeededRecord {
  double time = 0.0;
  bool beforeRender = false;  // asked by `render`, not by `framesNeeded`
  OfxStatus status = kOfxStatReplyDefault;
  // "OfxImageClipPropFrameRange_<clip>" of every input clip after the call,
  // as (first, last) pairs: (time, time) unless the plug-in wrote others.
  std::map<std::string, std::vector<FrameRange>> ranges;
  std::vector<PropertyWrite> writes;  // what the plug-in wrote to outArgs
};

struct IdentityResult {
  OfxStatus status = kOfxStatReplyDefault;
  std::string clip;   // outArgs "OfxPropName" after the call
  double time = 0.0;  // outArgs "OfxPropTime" after the call
  std::vector<PropertyWrite> writes;  // what the plug-in wrote to outArgs
};

// A handle on one effect instance. Cheap to copy; the host owns the instance.
class Instance {
 public:
  Instance() = default;

  // Makes a clip's image for a time, on demand; null when there is none.
  using ImageProvider = std::function<std::shared_ptr<Image>(double time)>;

  bool valid() const { return effect_ != nullptr; }
  OfxStatus createStatus() const;
  OfxImageEffectHandle handle() const;
  PropertySet *properties() const;
  void *instanceData() const;  // "OfxPropInstanceData"
  std::string context() const;

  // Clips.
  PropertySet *clipProperties(const std::string &clip) const;
  bool setImage(const std::string &clip, double time, std::shared_ptr<Image> image);
  bool setImage(const std::string &clip, std::shared_ptr<Image> image);
  std::shared_ptr<Image> image(const std::string &clip, double time) const;
  bool clearImages(const std::string &clip);
  bool setClipConnected(const std::string &clip, bool connected);
  // A user connecting another picture: stores it, asks the clip preferences
  // and sends instance-changed for the clip. kOfxStatErrUnknown for an
  // unknown clip; else the status of instance-changed.
  OfxStatus editImage(const std::string &clip, double time, std::shared_ptr<Image> image);
  OfxStatus editImage(const std::string &clip, std::shared_ptr<Image> image);
  // "OfxImageOpaque", "OfxImageAlphaPremultiplied" or
  // "OfxImageAlphaUnPremultiplied" (the default) on the clip and its images.
  bool setPremultiplication(const std::string &clip, const std::string &state);
  // Images made at fetch for the times that have no image of their own
  // (set with the time); null removes the provider. Connects the clip.
  bool setImageProvider(const std::string &clip, ImageProvider provider);
  // The clip's "OfxImageEffectPropFrameRange" (and unmapped range) from now
  // on, whatever images it holds. False for an unknown clip or first > last.
  bool setFrameRange(const std::string &clip, double first, double last);

  // Parameters. Numbers go to any numeric type (ints, choices and booleans
  // are rounded); text to string types. False for an unknown name or a type
  // that does not take the value.
  PropertySet *paramProperties(const std::string &param) const;
  bool setParam(const std::string &param, double value);
  bool setParam(const std::string &param, int value) { return setParam(param, static_cast<double>(value)); }
  bool setParam(const std::string &param, const std::string &text);
  bool setParam(const std::string &param, const char *text) { return setParam(param, std::string(text ? text : "")); }
  bool setParamValues(const std::string &param, const std::vector<double> &values);
  bool setParamAt(const std::string &param, double time, double value);
  bool setParamAt(const std::string &param, double time, const std::string &text);
  bool setParamValuesAt(const std::string &param, double time, const std::vector<double> &values);
  std::vector<double> paramValues(const std::string &param, double time = 0.0) const;
  double paramDouble(const std::string &param, double time = 0.0) const;  // NaN when missing
  int paramInt(const std::string &param, double time = 0.0) const;        // 0 when missing
  std::string paramString(const std::string &param, double time = 0.0) const;

  // Actions.
  OfxStatus render(double time, OfxRectI window);
  OfxStatus render(const RenderArgs &args);
  IdentityResult isIdentity(double time, OfxRectI window);
  OfxStatus instanceChanged(const std::string &name, const std::string &type = kOfxTypeParameter,
                            const std::string &reason = kOfxChangeUserEdited, double time = 0.0);
  // Sets a parameter and reports it as a user edit.
  OfxStatus editParam(const std::string &param, double value);
  OfxStatus editParam(const std::string &param, const std::string &text);
  // Any action on this instance with the given argument sets.
  OfxStatus callAction(const char *action, PropertySet *inArgs, PropertySet *outArgs);
  // Asks the clip preferences now, whether or not anything changed.
  OfxStatus askClipPreferences();
  // Asks the frames needed at `time` now, whatever the plug-in declared.
  FramesNeededRecord framesNeeded(double time);
  // Every frames-needed call, those before renders included, oldest first
  // (the latest 4096).
  std::vector<FramesNeededRecord> framesNeededRecords() const;
  // The suite's abort answers 1 from the `calls`-th call from now on (1:
  // the next; negative: never, the default), and whenever `test` says so.
  // `abortCalls` counts every call on this instance.
  void abortAfter(long calls);
  void setAbort(std::function<bool()> test);
  long abortCalls() const;
  OfxStatus destroy();
  bool destroyed() const;

  LedgerStats ledger() const;
  std::vector<ImageRecord> fetchedImages() const;
  ClipPreferences clipPreferences() const;

 private:
  friend class Host;
  Instance(std::shared_ptr<HostState> state, Effect *effect, OfxStatus status)
      : state_(std::move(state)), effect_(effect), status_(status) {}
  std::shared_ptr<HostState> state_;
  Effect *effect_ = nullptr;
  OfxStatus status_ = kOfxStatFailed;  // when there is no effect
};

class Host {
 public:
  // `path` is a module ("Bridgetint.ofx") or a bundle directory
  // ("Bridgetint.ofx.bundle", whose binary for this platform is used).
  explicit Host(const std::string &path);
  ~Host();  // destroys live instances, sends unload, closes the binary
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  const std::string &binaryPath() const;
  const std::string &lastError() const;

  // Suites.
  void withholdSuite(const std::string &name);
  void provideSuite(const std::string &name);
  // The host descriptor's "OfxImageEffectPropTemporalClipAccess" (1 unless
  // changed); set before load, as the plug-in reads it then.
  void setTemporalAccess(int value);
  void removeTemporalAccess();

  // Steps of loading, for tests of the entry points; `load` runs them all.
  bool open();
  bool isOpen() const;
  int numberOfPlugins();  // -1 when not open
  OfxPlugin *getPlugin(int nth);
  OfxStatus load();
  OfxStatus describe();
  OfxStatus describeInContext(const std::string &context);
  OfxStatus unload();
  void close();
  const OfxPlugin *plugin() const;

  Instance createInstance(const std::string &context);

  // Calls the plug-in's mainEntry directly.
  OfxStatus callAction(const char *action, const void *handle, PropertySet *inArgs, PropertySet *outArgs);

  OfxHost *ofxHost();
  PropertySet &hostProperties();
  PropertySet *descriptor();                                  // after describe()
  PropertySet *contextDescriptor(const std::string &context);  // after describeInContext()
  OfxImageEffectHandle descriptorHandle();
  OfxImageEffectHandle contextDescriptorHandle(const std::string &context);

  std::vector<FetchRecord> fetches() const;
  std::vector<Definition> definitions() const;
  std::vector<Definition> definitions(const std::string &context) const;
  std::vector<Message> messages() const;
  void clearMessages();
  std::vector<ChangeRecord> changes() const;
  void clearChanges();
  long badImageReleases() const;

  MemoryStats memory() const;
  void failNextAllocations(long count);  // the next `count` allocations fail
  void failAllocation(long nth);         // the nth allocation from now (1 = next) fails
  void clearAllocationFaults();

  // The reply to "OfxMessageQuestion" messages.
  void setQuestionAnswer(OfxStatus answer);
  // Time used for parameter reads without a time and for plug-in edits.
  void setCurrentTime(double time);
  // Whether images carry "OfxImagePropUniqueIdentifier" (they do by default).
  void giveImageIdentifiers(bool give);

  // Contents/<arch>/<name>.ofx for a bundle directory; `path` itself otherwise.
  static std::string resolveBinaryPath(const std::string &path);

 private:
  std::shared_ptr<HostState> state_;
};

}  // namespace tbhost

#endif
