// What the 3D view draws, built without any graphics API: the camera's
// model-view matrix, the floor grid and the axes as coloured lines, and the
// points coloured by height. The GL widget only issues this list.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "views/Cloud3d.h"

struct Line3d {
    float a[3], b[3];
    uint8_t rgb[3];
    float width;
};

struct Scene3dDrawList {
    std::array<float, 16> modelView{};  // column-major, as GL loads it
    std::vector<Line3d> lines;
    std::vector<float> pointXyz;    // x, y, z per point
    std::vector<uint8_t> pointRgb;  // red, green, blue per point
};

// Takes the points the worker left inside the clip box (the ones it moved to
// the origin are not drawn).
void VisiblePoints(const std::vector<ColoredPoint>& cloud, std::vector<Point3>& out);

// The eye at (0, 0, distance) looking at the origin with y up, then pitch
// about x and yaw about y; the grid from -20 to 20 m every metre, the axes
// 2 m long (x red, y green, z blue, 3 wide); the points coloured by height
// within their own range. Reuses out's buffers.
void BuildScene(const Camera3d& camera, const std::vector<Point3>& points, Scene3dDrawList& out);
