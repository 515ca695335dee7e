// Clip preferences: the host asks the plug-in which format it wants each
// clip in, once after creation and again before a render when a clip was
// connected or changed, and delivers images in that format.
#include <cmath>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

const char *const kComponentsPrefix = "OfxImageClipPropComponents_";
const char *const kDepthPrefix = "OfxImageClipPropDepth_";
const char *const kParPrefix = "OfxImageClipPropPAR_";

bool isComponents(const std::string &name) {
  Components c;
  return componentsFromName(name, c);
}

bool isDepth(const std::string &name) {
  PixelDepth d;
  return depthFromName(name, d);
}

// `have` when the plug-in lists it (or lists nothing the host knows), else
// the first listed value the host can deliver.
std::string supportedOr(const std::string &have, const std::vector<std::string> &supported,
                        bool (*known)(const std::string &)) {
  for (const std::string &s : supported) {
    if (s == have) return have;
  }
  for (const std::string &s : supported) {
    if (known(s)) return s;
  }
  return have;
}

// One clip as the action sees it.
struct ClipEntry {
  Clip *clip = nullptr;
  bool asked = false;  // connected input, or the output
  ClipPreference defaults;
};

// The format of the picture connected to `clip`, before any preference.
ClipPreference connectedFormat(Clip &clip) {
  ClipPreference f;
  f.clip = clip.name;
  f.components = clip.props.getString(kOfxImageClipPropUnmappedComponents, 0, kOfxImageComponentRGBA);
  f.depth = clip.props.getString(kOfxImageClipPropUnmappedPixelDepth, 0, kOfxBitDepthFloat);
  return f;
}

std::vector<ClipEntry> clipEntries(Effect &effect) {
  std::vector<Clip *> clips;
  {
    std::lock_guard<std::mutex> lock(effect.mutex);
    for (const auto &c : effect.clips) clips.push_back(c.get());
  }
  const std::vector<std::string> depths = effect.props.getStrings(kOfxImageEffectPropSupportedPixelDepths);
  Clip *source = effect.findClip(kOfxImageEffectSimpleSourceClipName);
  std::vector<ClipEntry> entries;
  for (Clip *clip : clips) {
    ClipEntry e;
    e.clip = clip;
    bool hasImage;
    {
      std::lock_guard<std::mutex> lock(clip->mutex);
      e.asked = clip->connected || clip->isOutput();
      hasImage = clip->anyTime.image || !clip->images.empty();
    }
    // An output the host makes takes Source's format.
    bool sourceConnected = false;
    if (source && clip->isOutput() && !hasImage) {
      std::lock_guard<std::mutex> lock(source->mutex);
      sourceConnected = source->connected;
    }
    e.defaults = connectedFormat(sourceConnected ? *source : *clip);
    e.defaults.clip = clip->name;
    e.defaults.components = supportedOr(e.defaults.components,
                                        clip->props.getStrings(kOfxImageEffectPropSupportedComponents), isComponents);
    e.defaults.depth = supportedOr(e.defaults.depth, depths, isDepth);
    entries.push_back(std::move(e));
  }
  return entries;
}

// Stores the clip's format; images delivered in a new format get new
// identifiers.
void applyFormat(Clip &clip, const ClipPreference &format, bool preferred) {
  const std::string components = preferred ? format.components : std::string();
  const std::string depth = preferred ? format.depth : std::string();
  {
    std::lock_guard<std::mutex> lock(clip.mutex);
    if (clip.preferredComponents != components || clip.preferredDepth != depth) {
      for (auto &slot : clip.images) slot.second.serial = newImageSerial();
      if (clip.anyTime.image) clip.anyTime.serial = newImageSerial();
    }
    clip.preferredComponents = components;
    clip.preferredDepth = depth;
  }
  const ClipPreference shown = preferred ? format : connectedFormat(clip);
  clip.props.defineString(kOfxImageEffectPropComponents, {shown.components});
  clip.props.defineString(kOfxImageEffectPropPixelDepth, {shown.depth});
  clip.props.defineDouble(kOfxImagePropPixelAspectRatio, {preferred ? format.pixelAspectRatio : 1.0});
}

// Calls the action and applies the answer; the record is kept on the effect.
OfxStatus query(HostState &state, Effect &effect) {
  const std::vector<ClipEntry> entries = clipEntries(effect);
  Clip *source = effect.findClip(kOfxImageEffectSimpleSourceClipName);
  Clip *output = effect.findClip(kOfxImageEffectOutputClipName);
  bool sourceConnected = false;
  if (source) {
    std::lock_guard<std::mutex> lock(source->mutex);
    sourceConnected = source->connected;
  }
  const Clip *premultOf = sourceConnected ? source : output;
  const std::string premultiplication =
      premultOf ? premultOf->props.getString(kOfxImageEffectPropPreMultiplication, 0, kOfxImageUnPreMultiplied)
                : kOfxImageUnPreMultiplied;

  PropertySet out("outArgs");
  for (const ClipEntry &e : entries) {
    if (!e.asked) continue;
    out.defineString(kComponentsPrefix + e.clip->name, {e.defaults.components});
    out.defineString(kDepthPrefix + e.clip->name, {e.defaults.depth});
    out.defineDouble(kParPrefix + e.clip->name, {1.0});
  }
  out.defineString(kOfxImageEffectPropPreMultiplication, {premultiplication});
  out.defineInt(kOfxImageClipPropContinuousSamples, {0});
  out.defineInt(kOfxImageEffectFrameVarying, {0});
  out.defineDouble(kOfxImageEffectPropFrameRate, {24.0});
  out.defineString(kOfxImageClipPropFieldOrder, {"OfxFieldNone"});
  const OfxStatus status = callEntry(state, kOfxImageEffectActionGetClipPreferences, effect.handle(), nullptr, &out);

  // Without an answer every value keeps its default.
  const bool answered = status == kOfxStatOK;
  ClipPreferences record;
  record.status = status;
  record.writes = out.writes();
  for (const ClipEntry &e : entries) {
    ClipPreference p = e.defaults;
    if (answered && e.asked) {
      const std::string components = out.getString(kComponentsPrefix + p.clip);
      const std::string depth = out.getString(kDepthPrefix + p.clip);
      const double par = out.getDouble(kParPrefix + p.clip, 0, 1.0);
      if (isComponents(components)) p.components = components;
      if (isDepth(depth)) p.depth = depth;
      if (std::isfinite(par) && par > 0.0) p.pixelAspectRatio = par;
    }
    applyFormat(*e.clip, p, e.asked);
    if (e.asked) record.clips.push_back(p);
  }
  const std::string answeredPremult = out.getString(kOfxImageEffectPropPreMultiplication);
  record.premultiplication = answered && isPremultiplication(answeredPremult) ? answeredPremult : premultiplication;
  record.continuousSamples = answered && out.getInt(kOfxImageClipPropContinuousSamples) != 0;
  record.frameVarying = answered && out.getInt(kOfxImageEffectFrameVarying) != 0;
  if (output) {
    output->props.defineString(kOfxImageEffectPropPreMultiplication, {record.premultiplication});
    output->props.defineInt(kOfxImageClipPropContinuousSamples, {record.continuousSamples ? 1 : 0});
  }
  std::lock_guard<std::mutex> lock(effect.prefsMutex);
  record.calls = effect.prefs.calls + 1;
  effect.prefs = std::move(record);
  return status;
}

// Ends this thread's turn at asking; an answer that did not arrive (a
// failure, an exception) leaves the preferences to be asked again.
struct Turn {
  Effect &effect;
  bool answered = false;
  ~Turn() {
    std::lock_guard<std::mutex> lock(effect.prefsMutex);
    effect.prefsAsking = false;
    if (!answered) effect.prefsStale = true;
    effect.prefsAnswered.notify_all();
  }
};

OfxStatus ask(HostState &state, Effect &effect, bool onlyWhenStale) {
  const std::thread::id self = std::this_thread::get_id();
  {
    std::unique_lock<std::mutex> lock(effect.prefsMutex);
    // Asked again from inside the answer (through a re-entrant action).
    if (effect.prefsAsking && effect.prefsAsker == self) return kOfxStatOK;
    effect.prefsAnswered.wait(lock, [&] { return !effect.prefsAsking; });
    if (onlyWhenStale && !effect.prefsStale) return kOfxStatOK;
    effect.prefsStale = false;
    effect.prefsAsking = true;
    effect.prefsAsker = self;
  }
  Turn turn{effect};
  const OfxStatus status = query(state, effect);
  turn.answered = succeeded(status);
  return status;
}

}  // namespace

bool isPremultiplication(const std::string &name) {
  return name == kOfxImageOpaque || name == kOfxImagePreMultiplied || name == kOfxImageUnPreMultiplied;
}

OfxStatus askClipPreferences(HostState &state, Effect &effect) { return ask(state, effect, false); }

OfxStatus refreshClipPreferences(HostState &state, Effect &effect) { return ask(state, effect, true); }

void markClipPreferencesStale(Effect &effect) {
  std::lock_guard<std::mutex> lock(effect.prefsMutex);
  effect.prefsStale = true;
}

}  // namespace tbhost
