// Scratch buffers of the LUT builders: taken from the heap without throwing,
// so that a build that cannot get its memory can fall back instead of failing.
#ifndef TINTBRIDGE_SCRATCH_H
#define TINTBRIDGE_SCRATCH_H

#include <cstddef>

// `count` doubles, uninitialised, or null when the memory cannot be had.
double *allocateScratch(size_t count);
void freeScratch(double *buffer);

// Test hook: makes the next allocateScratch call fail, as if the heap were
// exhausted. Not used by the plug-in itself.
void failNextScratchAllocation();

#endif
