#include "match/Scratch.h"

#include <atomic>
#include <new>

namespace {
std::atomic<bool> gFailNextScratch{false};
}

double *allocateScratch(size_t count) {
  if (gFailNextScratch.exchange(false)) {
    return nullptr;
  }
  return new (std::nothrow) double[count];
}

void freeScratch(double *buffer) { delete[] buffer; }

void failNextScratchAllocation() { gFailNextScratch.store(true); }
