#include "plugin/LutCache.h"

#include <cstdint>
#include <new>
#include <utility>

#include "lut/FloatImage.h"
#include "match/LutBuilders.h"
#include "plugin/DebugLog.h"
#include "plugin/MatchInstance.h"

LutPool::~LutPool() {
  for (int i = 0; i < count; ++i) delete spare[i];
}

namespace {

int64_t clampToInt(int64_t v) { return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v; }

void returnToPool(const std::shared_ptr<LutPool> &pool, MatchLut *grid) noexcept {
  {
    std::lock_guard<std::mutex> guard(pool->lock);
    if (pool->count < 2) {
      pool->spare[pool->count++] = grid;
      return;
    }
  }
  delete grid;
}

bool keysMatch(const MatchInstance &instance, const BuildInputs &in) {
  return instance.lut && instance.lut->valid && instance.lut->data != nullptr &&
         instance.cachedAnalysis.choice == kAnalysisEveryFrame &&
         instance.cachedSourceTime == in.time && instance.cachedReferenceTime == in.time &&
         instance.cachedMatchMode == in.matchMode && instance.cachedPreserveMode == in.preserveMode &&
         instance.cachedHadSourceMask == in.hasSourceMask && instance.cachedHadReferenceMask == in.hasReferenceMask &&
         instance.cachedSourceId == in.sourceId && instance.cachedReferenceId == in.referenceId &&
         instance.cachedSourceMaskId == in.sourceMaskId && instance.cachedReferenceMaskId == in.referenceMaskId;
}

enum class BuildOutcome { Built, NoImageMemory, NoScratch };

// Fills `grid` from the images with the builder of the match mode.
BuildOutcome buildInto(MatchLut &grid, const BuildInputs &in, const BuildImages &images) {
  // Premultiplied colour is measured unpremultiplied; a pixel without alpha
  // has no colour to measure.
  const bool premultiplied = images.source->premultiplied || images.reference->premultiplied;
  FloatImage s, r;
  if (!floatImage(images.source->pixels, 4, s, images.source->premultiplied) ||
      !floatImage(images.reference->pixels, 4, r, images.reference->premultiplied))
    return BuildOutcome::NoImageMemory;
  if (in.matchMode == kMatchSameFrame) {
    return buildSameFrameLut(s.view, r.view, grid, kLutSmoothing, in.preserveMode, premultiplied)
               ? BuildOutcome::Built
               : BuildOutcome::NoScratch;
  }
  FloatImage sm, rm;
  MaskView sourceMask, referenceMask;
  if (in.hasSourceMask && !maskOver(*images.sourceMask, *images.source, sm, sourceMask))
    return BuildOutcome::NoImageMemory;
  if (in.hasReferenceMask && !maskOver(*images.referenceMask, *images.reference, rm, referenceMask))
    return BuildOutcome::NoImageMemory;
  const bool smoothed = buildDifferentClipsLut(s.view, r.view, grid, kLutSmoothing, kColorSpaceLab, in.preserveMode,
                                               in.hasSourceMask ? &sourceMask : nullptr,
                                               in.hasReferenceMask ? &referenceMask : nullptr);
  return smoothed ? BuildOutcome::Built : BuildOutcome::NoScratch;
}

}  // namespace

bool maskOver(const ClipImage &mask, const ClipImage &image, FloatImage &storage, MaskView &view) {
  if (!floatImage(mask.pixels, mask.pixels.components, storage)) return false;
  static_cast<ImageView &>(view) = storage.view;
  view.originX = static_cast<int>(
      clampToInt(static_cast<int64_t>(mask.pixels.x1) - static_cast<int64_t>(image.pixels.x1)));
  view.originY = static_cast<int>(
      clampToInt(static_cast<int64_t>(mask.pixels.y1) - static_cast<int64_t>(image.pixels.y1)));
  return true;
}

std::shared_ptr<MatchLut> takePooledLut(const std::shared_ptr<LutPool> &pool) {
  MatchLut *grid = nullptr;
  if (pool) {
    std::lock_guard<std::mutex> guard(pool->lock);
    if (pool->count > 0) grid = pool->spare[--pool->count];
  }
  if (grid == nullptr) grid = new (std::nothrow) MatchLut();
  if (grid == nullptr) return nullptr;
  try {
    if (!pool) return std::shared_ptr<MatchLut>(grid);
    std::shared_ptr<LutPool> keep = pool;
    return std::shared_ptr<MatchLut>(grid, [keep](MatchLut *g) { returnToPool(keep, g); });
  } catch (...) {
    // A failed shared_ptr construction has already disposed of the grid.
    return nullptr;
  }
}

std::shared_ptr<MatchLut> lutForRender(MatchInstance &instance, const BuildInputs &in, const BuildImages &images) {
  {
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (keysMatch(instance, in)) return instance.lut;
  }
  // One build at a time; a render that waited here usually finds the LUT it
  // needs already built by the render it waited for.
  std::lock_guard<std::mutex> build(instance.buildLock);
  uint64_t generation;
  {
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (keysMatch(instance, in)) return instance.lut;
    generation = instance.generation;
  }
  std::shared_ptr<MatchLut> grid = takePooledLut(instance.lutPool);
  BuildOutcome outcome = BuildOutcome::NoImageMemory;
  if (grid && grid->allocate(kMatchLutSize)) outcome = buildInto(*grid, in, images);
  if (outcome == BuildOutcome::NoScratch) {
    // Different Clips goes on with the unsmoothed table; Same Frame has none.
    debugLog(in.matchMode == kMatchSameFrame ? "Tintbridge: not enough memory to build the Same Frame LUT\n"
                                             : "Tintbridge: not enough memory to smooth the LUT, left unsmoothed\n");
  }
  if (outcome == BuildOutcome::NoImageMemory) {
    debugLog("Tintbridge: LUT allocation failed\n");
    std::lock_guard<std::mutex> guard(instance.stateLock);
    if (instance.lut) instance.lut->valid = false;
    return nullptr;
  }
  if (!in.keep) return grid;
  std::lock_guard<std::mutex> guard(instance.stateLock);
  instance.lut = grid;
  ++instance.buildCount;
  instance.cachedSourceTime = in.time;
  instance.cachedReferenceTime = in.time;
  instance.cachedMatchMode = in.matchMode;
  instance.cachedPreserveMode = in.preserveMode;
  instance.cachedHadSourceMask = in.hasSourceMask;
  instance.cachedHadReferenceMask = in.hasReferenceMask;
  instance.cachedSourceId = in.sourceId;
  instance.cachedReferenceId = in.referenceId;
  instance.cachedSourceMaskId = in.sourceMaskId;
  instance.cachedReferenceMaskId = in.referenceMaskId;
  instance.cachedAnalysis = AnalysisKey();
  // An invalidation that came in during the build may concern inputs that
  // this build read before it; the next render builds again.
  if (instance.generation != generation) grid->valid = false;
  return grid;
}

std::shared_ptr<MatchLut> usableLut(MatchInstance &instance) {
  std::lock_guard<std::mutex> guard(instance.stateLock);
  if (!instance.lut || !instance.lut->valid || instance.lut->data == nullptr) return nullptr;
  return instance.lut;
}

void invalidateLut(MatchInstance &instance) {
  {
    std::lock_guard<std::mutex> guard(instance.stateLock);
    ++instance.generation;
    if (instance.lut) instance.lut->valid = false;
  }
  // Frames are measured again too: what changed may be what they measured.
  clearMeasures(instance.measures);
}

bool operator==(const AnalysisKey &a, const AnalysisKey &b) {
  return a.choice == b.choice && a.matchMode == b.matchMode && a.preserveMode == b.preserveMode &&
         a.sourceMask == b.sourceMask && a.referenceMask == b.referenceMask && a.time == b.time &&
         a.frames == b.frames;
}

void publishAnalysedLut(MatchInstance &instance, const std::shared_ptr<MatchLut> &grid, AnalysisKey key,
                        uint64_t generation) {
  std::lock_guard<std::mutex> guard(instance.stateLock);
  instance.lut = grid;
  ++instance.buildCount;
  instance.cachedAnalysis = std::move(key);
  if (instance.generation != generation) grid->valid = false;
}
