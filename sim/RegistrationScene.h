// The point set the simulated device's registration server hands out: the
// camera's width x height points over the gate, in the device's own frame.
// On the floor frame of the factory matrix it shows the floor (a few
// millimetres of noise), the gate's two cabinets and a person standing in the
// passage; the raw coordinates are that scene taken back through the factory
// matrix, so a registration with the factory matrix puts the floor at 0.
#pragma once

#include <cstdint>
#include <vector>

#include "registration/RegGeometry.h"

namespace regscene {

// Floor frame covered by the camera grid: rows along x, columns along y (the
// top view of a 2.8 m installation).
constexpr float kXMin = -1.30f, kXMax = 1.30f;
constexpr float kYMin = -1.96f, kYMax = 1.96f;
// The person in the passage: centre of the head and its top.
constexpr float kPersonX = 0.0f, kPersonY = -0.25f, kPersonHeight = 1.72f;

// Height of the scene's top surface at a floor position.
float sceneHeight(float x, float y, uint64_t seed, int row, int col);

// width x height points, row by row, in the device's frame.
std::vector<RegPoint> makePoints(int width, int height, uint64_t seed);

}  // namespace regscene
