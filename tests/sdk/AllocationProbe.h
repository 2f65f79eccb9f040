// Largest single allocation made while the probe is armed, process-wide. This
// program replaces the global operator new, and the library's allocations
// resolve to it too, so a growing receive buffer shows up here.
#pragma once

#include <cstddef>

void armAllocationProbe();
// Disarms the probe and returns the largest allocation seen since arming.
size_t disarmAllocationProbe();
