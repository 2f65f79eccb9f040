#include "views/Scene3d.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kGridHalf = 20;
constexpr uint8_t kGridGrey = 80;
constexpr float kAxisLength = 2.0f;
constexpr float kAxisWidth = 3.0f;
constexpr float kGridWidth = 1.0f;
constexpr float kDegrees = 3.14159265358979f / 180.0f;

using Mat4 = std::array<float, 16>;  // column-major

Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
            r[col * 4 + row] = s;
        }
    return r;
}

Mat4 identity() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Mat4 rotationX(float degrees) {
    const float c = std::cos(degrees * kDegrees), s = std::sin(degrees * kDegrees);
    return {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
}

Mat4 rotationY(float degrees) {
    const float c = std::cos(degrees * kDegrees), s = std::sin(degrees * kDegrees);
    return {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
}

void addLine(Scene3dDrawList& out, float x1, float y1, float z1, float x2, float y2, float z2,
             uint8_t r, uint8_t g, uint8_t b, float width) {
    out.lines.push_back(Line3d{{x1, y1, z1}, {x2, y2, z2}, {r, g, b}, width});
}

}  // namespace

void VisiblePoints(const std::vector<ColoredPoint>& cloud, std::vector<Point3>& out) {
    out.clear();
    for (const ColoredPoint& p : cloud)
        if (p.x != 0.0f || p.y != 0.0f || p.z != 0.0f) out.push_back(Point3{p.x, p.y, p.z});
}

void BuildScene(const Camera3d& camera, const std::vector<Point3>& points, Scene3dDrawList& out) {
    // Looking from (0, 0, d) at the origin with y up is a shift by -d along z.
    Mat4 view = identity();
    view[14] = -camera.m_camDist;
    out.modelView =
        multiply(multiply(view, rotationX(camera.m_camPitch)), rotationY(camera.m_camYaw));

    out.lines.clear();
    for (int s = -kGridHalf; s <= kGridHalf; ++s) {
        const float f = static_cast<float>(s), h = static_cast<float>(kGridHalf);
        addLine(out, f, -h, 0, f, h, 0, kGridGrey, kGridGrey, kGridGrey, kGridWidth);
        addLine(out, -h, f, 0, h, f, 0, kGridGrey, kGridGrey, kGridGrey, kGridWidth);
    }
    addLine(out, 0, 0, 0, kAxisLength, 0, 0, 255, 0, 0, kAxisWidth);
    addLine(out, 0, 0, 0, 0, kAxisLength, 0, 0, 255, 0, kAxisWidth);
    addLine(out, 0, 0, 0, 0, 0, kAxisLength, 0, 0, 255, kAxisWidth);

    out.pointXyz.clear();
    out.pointRgb.clear();
    if (points.empty()) return;
    float zMin = 1e9f, zMax = -1e9f;
    for (const Point3& p : points) {
        zMin = std::min(zMin, p.z);
        zMax = std::max(zMax, p.z);
    }
    float range = zMax - zMin;
    if (range < kFlatRange) range = 1.0f;
    out.pointXyz.reserve(points.size() * 3);
    out.pointRgb.reserve(points.size() * 3);
    for (const Point3& p : points) {
        uint8_t r, g, b;
        HeightColour((p.z - zMin) / range, r, g, b);
        out.pointXyz.insert(out.pointXyz.end(), {p.x, p.y, p.z});
        out.pointRgb.insert(out.pointRgb.end(), {r, g, b});
    }
}
