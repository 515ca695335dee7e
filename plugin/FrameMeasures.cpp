#include "plugin/FrameMeasures.h"

#include <utility>

bool operator==(const FrameMeasureKey &a, const FrameMeasureKey &b) {
  return a.time == b.time && a.matchMode == b.matchMode && a.preserveMode == b.preserveMode &&
         a.sourceMask == b.sourceMask && a.referenceMask == b.referenceMask && a.generation == b.generation;
}

size_t measureBytes(const FrameMeasure &measure) {
  return sizeof(FrameMeasure) +
         (measure.source.values.capacity() + measure.reference.values.capacity() +
          measure.pairs.values.capacity()) *
             sizeof(float);
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
