// The per-instance record: clip and parameter handles, the instance's LUT and
// the keys of the inputs it was built from.
#ifndef TINTBRIDGE_MATCH_INSTANCE_H
#define TINTBRIDGE_MATCH_INSTANCE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "lut/MatchLut.h"
#include "ofx/OfxApi.h"

// "matchMode" option index.
typedef int MatchMode;
enum : int { kMatchDifferentClips = 0, kMatchSameFrame = 1 };

struct LutPool;

struct MatchInstance {
  OfxImageEffectHandle effect;
  OfxImageClipHandle sourceClip;
  OfxImageClipHandle referenceClip;
  OfxImageClipHandle outputClip;
  OfxImageClipHandle sourceMaskClip;
  OfxImageClipHandle referenceMaskClip;
  OfxParamHandle strengthParam;
  OfxParamHandle strengthRParam;
  OfxParamHandle strengthGParam;
  OfxParamHandle strengthBParam;
  OfxParamHandle matchModeParam;
  OfxParamHandle preserveModeParam;
  OfxParamHandle exportPathParam;
  OfxParamHandle exportButtonParam;
  OfxParamHandle exportCdlButtonParam;
  OfxParamHandle rebuildButtonParam;

  // The published LUT. Renders and exports take a reference under stateLock
  // and then read it without a lock: a published grid is never rewritten,
  // only its `valid` flag is cleared. Builds go into a private grid that is
  // swapped in under stateLock.
  std::shared_ptr<MatchLut> lut;
  double cachedSourceTime;
  double cachedReferenceTime;
  int cachedMatchMode;
  int cachedPreserveMode;
  bool cachedHadSourceMask;
  bool cachedHadReferenceMask;
  std::string cachedSourceId, cachedReferenceId, cachedSourceMaskId, cachedReferenceMaskId;

  // Guards `lut` (the pointer), the keys and `generation`. Held only for a few
  // instructions, never across a build or a host call.
  std::mutex stateLock;
  // Serialises builds, so that tiles of one frame build once.
  std::mutex buildLock;
  // Counts invalidations; a build that saw another count does not mark its
  // grid as matching the current inputs.
  uint64_t generation;
  // Builds published so far (for diagnostics and tests).
  uint64_t buildCount;
  // Grids that no reader holds any more, kept for the next build so that
  // rebuilds reuse their memory.
  std::shared_ptr<LutPool> lutPool;
};

// The record attached to an effect, or null.
MatchInstance *findInstance(OfxImageEffectHandle effect);

#endif
