#include "views/Cloud3d.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/ByteOrder.h"
#include "stream/StreamFrame.h"

namespace {

uint8_t channel(float v) {
    // Truncated, like the device's colour scale.
    return static_cast<uint8_t>(255.0f * std::clamp(v, 0.0f, 1.0f));
}

}  // namespace

void HeightColour(float t, uint8_t& r, uint8_t& g, uint8_t& b) {
    if (!(t >= 0.0f)) t = 0.0f;  // also a NaN height
    if (t > 1.0f) t = 1.0f;
    const float v = 4.0f * t;
    r = channel(v - 1.5f);
    g = channel(v - 0.5f);
    b = channel(2.5f - v);
}

CloudClipBox CloudClipBoxFor(const AreaBlock& areas) {
    // A long area is widened along x, a square or wide one along y.
    const float a0 = areas[0], a1 = areas[1], a2 = areas[2], a3 = areas[3];
    const bool longAlongX = a2 - a0 > a3 - a1;
    CloudClipBox box;
    box.xLo = longAlongX ? a0 - kCloudMargin : a0;
    box.xHi = longAlongX ? a2 + kCloudMargin : a2;
    box.yLo = longAlongX ? a1 : a1 - kCloudMargin;
    box.yHi = longAlongX ? a3 : a3 + kCloudMargin;
    return box;
}

void ProcessCloud(const uint8_t* pointBytes, size_t length, const AreaBlock& areas,
                  std::vector<ColoredPoint>& out) {
    const size_t count = std::min<size_t>(length / kPointSize, kCloudPoints);
    out.resize(count);
    float zMin = std::numeric_limits<float>::max();
    float zMax = std::numeric_limits<float>::lowest();
    for (size_t i = 0; i < count; ++i) {
        const float z = readF32le(pointBytes + i * kPointSize + 8);
        zMin = std::min(zMin, z);
        zMax = std::max(zMax, z);
    }
    float range = zMax - zMin;
    if (!(range > kFlatRange)) range = 1.0f;

    const CloudClipBox box = CloudClipBoxFor(areas);

    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = pointBytes + i * kPointSize;
        ColoredPoint& c = out[i];
        c.x = readF32le(p);
        c.y = readF32le(p + 4);
        c.z = readF32le(p + 8);
        HeightColour((c.z - zMin) / range, c.r, c.g, c.b);
        if (!box.contains(c.x, c.y)) c.x = c.y = c.z = 0.0f;
    }
}

void Camera3d::OnLButtonDown(int x, int y) {
    m_dragging = true;
    m_lastX = x;
    m_lastY = y;
}

void Camera3d::OnMouseMove(int x, int y) {
    if (!m_dragging) return;
    m_camYaw += static_cast<float>(x - m_lastX);
    m_camPitch += static_cast<float>(y - m_lastY);
    m_lastX = x;
    m_lastY = y;
}

void Camera3d::OnMouseWheel(int delta) {
    m_camDist += delta <= 0 ? 1.0f : -1.0f;
    m_camDist = std::clamp(m_camDist, kMinDist, kMaxDist);
}

void Camera3d::OnLButtonUp() {
    m_dragging = false;
}
