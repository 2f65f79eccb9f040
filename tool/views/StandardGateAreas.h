// The area block of a standard gate passage, 0.76 m wide and 1.4 m long (the
// gate size the registration dialog proposes): the whole area and detection
// areas 1..5 as slices along its length (0.16 m, 0.16 m, the 0.76 m
// anti-pinch square, 0.16 m, 0.16 m); the spare rectangle stays zero.
//
// A recording holds points only. Played back without a device's own areas,
// its records are drawn, clipped and exported within these; the simulated
// device reports them as its gate.
#pragma once

#include "stream/StreamRecords.h"

constexpr float kStandardGateWidth = 0.76f;
// Edges along y of detection areas 1..5.
constexpr float kStandardGateSliceEdges[6] = {-0.70f, -0.54f, -0.38f, 0.38f, 0.54f, 0.70f};

AreaBlock standardGateAreas();
