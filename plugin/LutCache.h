// The instance's LUT: the keys of the inputs it was built from, the build,
// publishing, invalidation, and the pool of grids that rebuilds reuse.
#ifndef TINTBRIDGE_LUT_CACHE_H
#define TINTBRIDGE_LUT_CACHE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "lut/FloatImage.h"
#include "lut/MatchLut.h"
#include "plugin/ClipImages.h"

struct MatchInstance;

// Returns released grids for reuse. A grid comes back only when the last
// reference to it is dropped, so a build never writes a grid that a render or
// an export is still reading.
struct LutPool {
  std::mutex lock;
  MatchLut *spare[2] = {nullptr, nullptr};
  int count = 0;
  LutPool() = default;
  ~LutPool();
  LutPool(const LutPool &) = delete;
  LutPool &operator=(const LutPool &) = delete;
};

// A grid for the next build: a pooled one, else a new empty one; null when
// there is no memory.
std::shared_ptr<MatchLut> takePooledLut(const std::shared_ptr<LutPool> &pool);

// What a LUT is built from, besides the pixels.
struct BuildInputs {
  double time;
  int matchMode;
  int preserveMode;
  bool hasSourceMask;
  bool hasReferenceMask;
  // The host's identities of the input images ("" when it gives none), so
  // that an edit upstream builds again.
  std::string sourceId, referenceId, sourceMaskId, referenceMaskId;
  // False when an input does not cover its clip: the build serves this
  // render only and is not published.
  bool keep = true;
};

// The clip images one build reads.
struct BuildImages {
  const ClipImage *source;
  const ClipImage *reference;
  const ClipImage *sourceMask;
  const ClipImage *referenceMask;
};

// A float view of `mask` placed over `image` by their bounds; false when
// there is no memory for it.
bool maskOver(const ClipImage &mask, const ClipImage &image, FloatImage &storage, MaskView &view);

// The LUT to apply for these inputs: the published one when its keys match,
// else a fresh build that is then published. Null when nothing applies.
std::shared_ptr<MatchLut> lutForRender(MatchInstance &instance, const BuildInputs &in, const BuildImages &images);

// Takes a consistent reference to the instance's LUT when it is valid and has
// a grid; null otherwise.
std::shared_ptr<MatchLut> usableLut(MatchInstance &instance);

// Clears `valid` of the published LUT and drops the kept frame
// measurements; never waits for a build.
void invalidateLut(MatchInstance &instance);

struct AnalysisKey;

// Publishes an analysed LUT; not valid when an invalidation came after
// `generation` was read.
void publishAnalysedLut(MatchInstance &instance, const std::shared_ptr<MatchLut> &grid, AnalysisKey key,
                        uint64_t generation);

#endif
