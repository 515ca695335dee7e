// Calls into the plug-in's main entry point.
#include "host/HostInternal.h"

namespace tbhost {

namespace {

// Depth of instance-changed actions on this thread: a paramSetValue from
// inside one sends the next.
thread_local int tChangeDepth = 0;
constexpr int kMaxChangeDepth = 16;

}  // namespace

OfxStatus callEntry(HostState &state, const char *action, const void *handle, PropertySet *inArgs,
                    PropertySet *outArgs) {
  OfxPluginEntryPoint *entry = state.mainEntry.load();
  if (!entry) return kOfxStatErrFatal;
  return entry(action, handle, inArgs ? inArgs->handle() : nullptr, outArgs ? outArgs->handle() : nullptr);
}

OfxStatus sendInstanceChanged(HostState &state, Effect &effect, const std::string &name, const std::string &type,
                              const std::string &reason, double time) {
  ChangeRecord record;
  record.name = name;
  record.type = type;
  record.reason = reason;
  record.time = time;
  record.depth = tChangeDepth;
  size_t index;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    index = state.changes.size();
    record.status = kOfxStatFailed;
    state.changes.push_back(record);
  }
  if (tChangeDepth >= kMaxChangeDepth) return kOfxStatFailed;  // a plug-in that edits itself forever
  PropertySet in("inArgs");
  in.defineString(kOfxPropType, {type});
  in.defineString(kOfxPropName, {name});
  in.defineString(kOfxPropChangeReason, {reason});
  in.defineDouble(kOfxPropTime, {time});
  in.defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
  ++tChangeDepth;
  const OfxStatus status = callEntry(state, kOfxActionInstanceChanged, effect.handle(), &in, nullptr);
  --tChangeDepth;
  std::lock_guard<std::mutex> lock(state.mutex);
  state.changes[index].status = status;
  return status;
}

}  // namespace tbhost
