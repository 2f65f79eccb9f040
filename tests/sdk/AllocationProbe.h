// Largest single allocation made while the probe is armed, process-wide. This
// program replaces the global operator new, and the library's allocations
// resolve to it too, so a growing receive buffer shows up here. On Windows a
// DLL keeps the operator new of its own runtime and the probe sees nothing of
// the library: ask probeSeesLibrary() before trusting a result.
#pragma once

#include <cstddef>

void armAllocationProbe();
// Disarms the probe and returns the largest allocation seen since arming.
size_t disarmAllocationProbe();
// Whether an allocation made inside the library shows up in the probe.
bool probeSeesLibrary();
