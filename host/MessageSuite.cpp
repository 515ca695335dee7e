// The message suite: records every message with its formatted text.
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "host/HostInternal.h"

namespace tbhost {

namespace {

std::string formatText(const char *format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(n) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, ap);
  return std::string(buffer.data(), static_cast<size_t>(n));
}

OfxStatus message(void *handle, const char *type, const char *id, const char *format, ...) {
  Effect *effect = Effect::fromHandle(handle);
  std::shared_ptr<HostState> keep;
  HostState *state = effect ? effect->host : nullptr;
  if (!state) {
    keep = currentHost();
    state = keep.get();
  }
  try {
    Message m;
    m.handle = handle;
    m.type = type ? type : "";
    m.id = id ? id : "";
    m.idWasNull = id == nullptr;
    if (format) {
      va_list ap;
      va_start(ap, format);
      m.text = formatText(format, ap);
      va_end(ap);
    }
    const bool question = m.type == kOfxMessageQuestion;
    if (state) {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->messages.push_back(std::move(m));
    }
    if (!format) return kOfxStatErrValue;
    if (question) return state ? state->questionAnswer.load() : kOfxStatReplyYes;
    return kOfxStatOK;
  } catch (...) {
    return kOfxStatErrMemory;
  }
}

const OfxMessageSuiteV1 kMessageSuite = {message};

}  // namespace

const OfxMessageSuiteV1 *messageSuite() { return &kMessageSuite; }

}  // namespace tbhost
