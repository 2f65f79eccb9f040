// The 3D view's data: one frame's point cloud turned into points coloured by
// height and clipped to the monitored area (ProcessCloud), the hand-over of
// the latest processed frame to the view, and the mouse camera.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "stream/StreamRecords.h"

// Points per device frame (a 240 x 160 grid).
constexpr int kCloudPoints = 38400;
// The clip box reaches this far beyond the whole area along its longer side.
constexpr float kCloudMargin = 0.4f;
// Height ranges below this count as flat.
constexpr float kFlatRange = 1e-6f;

struct ColoredPoint {
    float x = 0, y = 0, z = 0;
    uint8_t r = 0, g = 0, b = 0;
};

struct Point3 {
    float x = 0, y = 0, z = 0;
};

// Height colour of t in [0, 1]: blue (0) through cyan, green and yellow to
// red (1), as red, green, blue bytes. t outside [0, 1] (or not a number) is clamped.
void HeightColour(float t, uint8_t& r, uint8_t& g, uint8_t& b);

// The monitored box of a frame: the whole area (areas[0..3]) widened by
// kCloudMargin at both ends of its longer side.
struct CloudClipBox {
    float xLo = 0, xHi = 0, yLo = 0, yHi = 0;
    bool contains(float x, float y) const { return x >= xLo && x <= xHi && y >= yLo && y <= yHi; }
};
CloudClipBox CloudClipBoxFor(const AreaBlock& areas);

// One frame: the whole points of the block (at most 38400; a shorter block is
// never read past its end), each coloured by its height within the frame's
// height range. A point outside the clip box around the whole area (areas[0..3])
// is moved to the origin and keeps its colour. out gets one entry per point.
void ProcessCloud(const uint8_t* pointBytes, size_t length, const AreaBlock& areas,
                  std::vector<ColoredPoint>& out);

// The instruction sets ProcessCloud has code for, from the plainest up. Every
// one gives the same points and colours.
enum class CloudInstructions { Plain, Avx2 };
// The widest this processor offers.
CloudInstructions CloudInstructionsAvailable();
// For tests and benchmarks: ProcessCloud uses nothing beyond `most` (for the
// whole program) until limited again, so the plain code can be checked and
// measured on a processor that has more. The default is Avx2.
void LimitCloudInstructions(CloudInstructions most);
// What ProcessCloud actually uses here, within the limit.
CloudInstructions CloudInstructionsInUse();

// The latest processed frame, handed from the 3D worker to the view. The
// worker replaces it with every frame; the view takes it when m_3dNew is set.
struct Cloud3dShare {
    std::mutex m_3dMutex;
    std::vector<ColoredPoint> m_3dColored;
    std::atomic<bool> m_3dNew{false};
    std::atomic<bool> m_3dPublished{false};
    std::atomic<uint64_t> framesProcessed{0};
};

// The mouse camera of the view: left-drag rotates, the wheel zooms.
struct Camera3d {
    static constexpr float kMinDist = 1.0f;
    static constexpr float kMaxDist = 200.0f;

    float m_camPitch = 0;  // degrees about the x axis
    float m_camYaw = 0;    // degrees about the y axis
    float m_camDist = 3.0f;
    bool m_dragging = false;
    int m_lastX = 0, m_lastY = 0;

    void OnLButtonDown(int x, int y);
    void OnMouseMove(int x, int y);
    // A delta of 0 or less moves away by 1, a positive one closer by 1.
    void OnMouseWheel(int delta);
    void OnLButtonUp();
};
