// The one rule for every suite function the plug-in calls: no exception
// gets back into the plug-in. A failed allocation answers kOfxStatErrMemory,
// anything else kOfxStatErrFatal.
#ifndef TINTBRIDGE_HOST_GUARDED_H
#define TINTBRIDGE_HOST_GUARDED_H

#include <new>

#include "ofx/OfxApi.h"

namespace tbhost {

template <typename Fn>
OfxStatus guarded(Fn fn) {
  try {
    return fn();
  } catch (const std::bad_alloc &) {
    return kOfxStatErrMemory;
  } catch (...) {
    return kOfxStatErrFatal;
  }
}

}  // namespace tbhost

#endif
