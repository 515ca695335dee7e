#include "plugin/FrameMeasures.h"

#include <utility>

bool operator==(const FrameMeasureKey &a, const FrameMeasureKey &b) {
  return a.time == b.time && a.matchMode == b.matchMode && a.preserveMode == b.preserveMode &&
         a.sourceMask == b.sourceMask && a.referenceMask == b.referenceMask && a.generation == b.generation;
}

namespace {

size_t samplesBytes(const ClipMeasure &m) {
  return m.identity.capacity() + (m.samples ? sizeof(ClipSamples) + m.samples->values.capacity() * sizeof(float) : 0);
}

// Settings equal apart from the time.
bool sameSettings(const FrameMeasureKey &a, const FrameMeasureKey &b) {
  return a.matchMode == b.matchMode && a.preserveMode == b.preserveMode && a.sourceMask == b.sourceMask &&
         a.referenceMask == b.referenceMask && a.generation == b.generation;
}

}  // namespace

// Shared samples count in full for each frame that holds them: the budget
// errs on the safe side.
size_t measureBytes(const FrameMeasure &measure) {
  return sizeof(FrameMeasure) + samplesBytes(measure.source) + samplesBytes(measure.reference) +
         measure.pairs.values.capacity() * sizeof(float);
}

std::shared_ptr<const ClipSamples> findSamples(FrameMeasureStore &store, const FrameMeasureKey &key, bool reference,
                                               const std::string &identity) {
  if (identity.empty()) return nullptr;
  std::lock_guard<std::mutex> guard(store.lock);
  for (const FrameMeasureStore::Entry &e : store.entries) {
    if (!sameSettings(e.key, key)) continue;
    const ClipMeasure &m = reference ? e.measure->reference : e.measure->source;
    if (m.samples && m.identity == identity) return m.samples;
  }
  return nullptr;
}

std::shared_ptr<const FrameMeasure> findMeasure(FrameMeasureStore &store, const FrameMeasureKey &key) {
  std::lock_guard<std::mutex> guard(store.lock);
  for (auto it = store.entries.begin(); it != store.entries.end(); ++it) {
    if (it->key == key) {
      store.entries.splice(store.entries.begin(), store.entries, it);
      return store.entries.front().measure;
    }
  }
  return nullptr;
}

void keepMeasure(FrameMeasureStore &store, const FrameMeasureKey &key, std::shared_ptr<const FrameMeasure> measure) {
  if (!measure) return;
  const size_t bytes = measureBytes(*measure);
  std::lock_guard<std::mutex> guard(store.lock);
  for (auto it = store.entries.begin(); it != store.entries.end(); ++it) {
    if (it->key == key) {
      store.bytes -= it->bytes;
      store.entries.erase(it);
      break;
    }
  }
  if (bytes > store.budget) return;
  try {
    store.entries.push_front(FrameMeasureStore::Entry{key, std::move(measure), bytes});
  } catch (...) {
    return;  // without room the measurement is simply not kept
  }
  store.bytes += bytes;
  while (store.bytes > store.budget && !store.entries.empty()) {
    store.bytes -= store.entries.back().bytes;
    store.entries.pop_back();
  }
}

void clearMeasures(FrameMeasureStore &store) {
  std::list<FrameMeasureStore::Entry> dropped;
  {
    std::lock_guard<std::mutex> guard(store.lock);
    dropped.swap(store.entries);
    store.bytes = 0;
  }
}
