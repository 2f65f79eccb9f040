// Synthetic scenes of the simulated device: the passage of a fare gate seen
// from above as 38400 points (a 240 x 160 grid), with the gate's side walls,
// persons walking through and now and then a left bag, plus the object records
// the device's algorithm would report and the area block of the gate.
// A scene is a pure function of its seed and the frame number.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/StreamRecords.h"
#include "views/StandardGateAreas.h"

namespace scene {

// The point grid: row r runs along x, column c along y, points row by row.
constexpr int kGridRows = 160;
constexpr int kGridCols = 240;
constexpr int kPointCount = kGridRows * kGridCols;  // 38400, 460800 bytes
constexpr float kGridXMin = -1.08f, kGridXMax = 1.08f;
constexpr float kGridYMin = -1.2f, kGridYMax = 1.2f;

// Default gate: 1.4 m long (y) and 0.76 m wide (x), centred on the origin.
constexpr float kGateLength = 1.4f;
constexpr float kGateWidth = kStandardGateWidth;

// Side walls (the gate's cabinets) on both sides of the passage.
constexpr float kWallInnerX = 0.40f;  // |x| from here ...
constexpr float kWallOuterX = 0.63f;  // ... to here
constexpr float kWallHalfLength = 0.75f;
constexpr float kWallHeight = 1.0f;

// A scene repeats one passage per cycle: persons walk through during its
// first frames, then the passage is empty (a left bag may stay).
constexpr int kCycleFrames = 80;

// Where a person is in one frame (ground truth, for tests).
struct PersonState {
    int32_t index;  // the number the device reports
    float x, y;     // centre of the head on the floor, metres
    float height;   // top of the head, metres
};

struct BagState {
    float x0, y0, x1, y1;  // footprint, metres
    float height;
};

struct Frame {
    std::vector<uint8_t> points;     // kPointCount points of x, y, z float32, little-endian
    std::vector<ObjRecord> objects;  // at most kMaxObjRecords
    AreaBlock areas{};
    std::vector<PersonState> persons;  // persons inside the grid
    bool hasBag = false;
    BagState bag{};
};

// Floor height of grid point (row, col) in frame n: a few millimetres of noise.
float floorHeight(uint64_t seed, uint64_t frame, int row, int col);

class Scene {
public:
    explicit Scene(uint64_t seed) : seed_(seed) {}

    // Fills out with frame n; reuses out's buffers.
    void frame(uint64_t n, Frame& out) const;

    uint64_t seed() const { return seed_; }

private:
    uint64_t seed_;
};

}  // namespace scene
