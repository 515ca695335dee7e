// The per-instance record: clip and parameter handles, the instance's LUT and
// the keys of the inputs it was built from.
#ifndef TINTBRIDGE_MATCH_INSTANCE_H
#define TINTBRIDGE_MATCH_INSTANCE_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lut/MatchLut.h"
#include "ofx/OfxApi.h"
#include "plugin/FrameMeasures.h"
#include "plugin/Names.h"

// "matchMode" option index.
typedef int MatchMode;
enum : int { kMatchDifferentClips = 0, kMatchSameFrame = 1 };

struct LutPool;

// What a LUT analysed over several frames was built from: the choice, the
// settings that shape the measurements, the frames and, for a rolling
// window, the time its weights centre on. Every Frame LUTs carry the
// default key.
struct AnalysisKey {
  int choice = kAnalysisEveryFrame;
  int matchMode = 0;
  int preserveMode = 0;
  bool sourceMask = false;
  bool referenceMask = false;
  double time = 0.0;
  std::vector<double> frames;
};

bool operator==(const AnalysisKey &a, const AnalysisKey &b);

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
  OfxParamHandle analysisParam;
  OfxParamHandle analysisStartParam;
  OfxParamHandle analysisEndParam;
  OfxParamHandle analysisFramesParam;
  OfxParamHandle analysisWindowParam;

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
  AnalysisKey cachedAnalysis;

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

  // One analysis over several frames at a time: set under stateLock while a
  // render measures and builds (without any lock held), and the others wait
  // on `analysisDone` for its LUT.
  bool analysisBuilding;
  std::condition_variable analysisDone;
  // Measurements of single frames, shared by the instance's renders.
  FrameMeasureStore measures;
};

// The record attached to an effect, or null.
MatchInstance *findInstance(OfxImageEffectHandle effect);

#endif
