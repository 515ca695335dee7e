// The measurements of single frames that an analysis over several frames
// pools, kept per instance so that each frame is measured once. Bounded: the
// least recently used are dropped beyond a fixed budget.
#ifndef TINTBRIDGE_FRAME_MEASURES_H
#define TINTBRIDGE_FRAME_MEASURES_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "match/ClipStats.h"
#include "match/LutBuilders.h"

// The counting samples of one clip at one time (null: no image then), and
// the host's identity of the pixels they came from, with its mask's ("" when
// the host gives none). Frames whose pixels have one identity, as a still
// picture's do, share one set of samples.
struct ClipMeasure {
  std::shared_ptr<const ClipSamples> samples;
  std::string identity;
};

// What one frame gave. Different Clips keeps the samples of each clip; Same
// Frame keeps the sampled pairs (none unless both images were there).
struct FrameMeasure {
  ClipMeasure source;
  ClipMeasure reference;
  bool hasPairs = false;
  SampledPairs pairs;
};

// What a measurement depends on besides the pixels. `generation` is the
// instance's count of invalidations when it was made.
struct FrameMeasureKey {
  double time = 0.0;
  int matchMode = 0;
  int preserveMode = 0;  // Same Frame only; -1 otherwise
  bool sourceMask = false;
  bool referenceMask = false;
  uint64_t generation = 0;
};

bool operator==(const FrameMeasureKey &a, const FrameMeasureKey &b);

// The memory the kept measurements of one instance may take.
constexpr size_t kFrameMeasureBudget = size_t{256} << 20;

struct FrameMeasureStore {
  struct Entry {
    FrameMeasureKey key;
    std::shared_ptr<const FrameMeasure> measure;
    size_t bytes;
  };
  std::mutex lock;
  std::list<Entry> entries;  // most recently used first
  size_t bytes = 0;
  size_t budget = kFrameMeasureBudget;
};

// The bytes a measurement holds.
size_t measureBytes(const FrameMeasure &measure);

// The kept measurement for `key`, made most recently used; null when none.
std::shared_ptr<const FrameMeasure> findMeasure(FrameMeasureStore &store, const FrameMeasureKey &key);

// Samples already kept for the Source (or the Reference) with this identity,
// measured with the same settings as `key`; null when none or `identity` is "".
std::shared_ptr<const ClipSamples> findSamples(FrameMeasureStore &store, const FrameMeasureKey &key, bool reference,
                                               const std::string &identity);

// Keeps `measure` for `key` (replacing an earlier one), then drops the least
// recently used until the store is within its budget. A measurement larger
// than the whole budget is not kept. Never throws.
void keepMeasure(FrameMeasureStore &store, const FrameMeasureKey &key, std::shared_ptr<const FrameMeasure> measure);

// Drops every kept measurement; those still being pooled live until released.
void clearMeasures(FrameMeasureStore &store);

#endif
