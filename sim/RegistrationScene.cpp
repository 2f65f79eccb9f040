#include "RegistrationScene.h"

#include <cmath>

#include "Scene.h"

namespace regscene {

namespace {

constexpr float kHeadRadius = 0.11f;
constexpr float kShoulderHalfX = 0.22f;  // across the passage
constexpr float kShoulderHalfY = 0.13f;  // along it
constexpr float kShoulderHeight = 1.45f;

}  // namespace

float sceneHeight(float x, float y, uint64_t seed, int row, int col) {
    const float ax = std::fabs(x);
    if (ax >= scene::kWallInnerX && ax <= scene::kWallOuterX &&
        std::fabs(y) <= scene::kWallHalfLength)
        return scene::kWallHeight;
    const float dx = x - kPersonX;
    const float dy = y - kPersonY;
    const float r2 = dx * dx + dy * dy;
    if (r2 <= kHeadRadius * kHeadRadius)
        return kPersonHeight - 0.1f * r2 / (kHeadRadius * kHeadRadius);
    const float ex = dx / kShoulderHalfX;
    const float ey = dy / kShoulderHalfY;
    if (ex * ex + ey * ey <= 1.0f) return kShoulderHeight - 0.05f * (ex * ex + ey * ey);
    return scene::floorHeight(seed, 0, row, col);
}

std::vector<RegPoint> makePoints(int width, int height, uint64_t seed) {
    std::vector<RegPoint> points;
    if (width <= 0 || height <= 0) return points;
    points.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    // floor = R raw + t, with R close to a rotation: raw = R^T (floor - t).
    const RegMatrix f = FactoryRegMatrix();
    const auto& m = f.m;
    for (int r = 0; r < height; ++r) {
        const float x = height > 1 ? kXMin + (kXMax - kXMin) * r / (height - 1) : 0.0f;
        for (int c = 0; c < width; ++c) {
            const float y = width > 1 ? kYMin + (kYMax - kYMin) * c / (width - 1) : 0.0f;
            const float z = sceneHeight(x, y, seed, r, c);
            const float fx = x - m[0][3], fy = y - m[1][3], fz = z - m[2][3];
            points.push_back(RegPoint{m[0][0] * fx + m[1][0] * fy + m[2][0] * fz,
                                      m[0][1] * fx + m[1][1] * fy + m[2][1] * fz,
                                      m[0][2] * fx + m[1][2] * fy + m[2][2] * fz});
        }
    }
    return points;
}

}  // namespace regscene
