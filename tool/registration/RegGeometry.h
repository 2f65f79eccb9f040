// Geometry of registration: the two extrinsic matrices, the top-view windows
// derived from the installation height, rotation and zoom steps, the gate
// rectangle with its five detection areas, and the mapping of floor points to
// pixels of a top view.
//
// The floor frame has x and y on the floor and z as height above it. In every
// top view the image column follows y and the row follows x (y grows to the
// right, x downward). Lengths are metres in float32; the order of the float
// operations below is the device's, so results match it to the last bit.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct RegPoint {
    float x = 0, y = 0, z = 0;
};

// 4 x 4 float32, row-major. Rows 0..2 map a raw point to the floor frame;
// m[2][3] is the installation height.
struct RegMatrix {
    std::array<std::array<float, 4>, 4> m{};
    float& m23() { return m[2][3]; }
    float m23() const { return m[2][3]; }
    bool operator==(const RegMatrix& o) const { return m == o.m; }
};

struct RegRect {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool operator==(const RegRect& o) const {
        return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1;
    }
};

// Gate, areas 1..5 (area 3 is the anti-pinch area in the middle), reserved.
constexpr int kRegGate = 0;
constexpr int kRegAntiPinch = 3;
constexpr int kRegReserved = 6;
using RegAreaSet = std::array<RegRect, 7>;

// Floor window of one top view and its picture size (one pixel ~ 1 cm).
// cols == rows == 0 is the empty view: it has no pixels.
struct RegViewWindow {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int32_t cols = 0, rows = 0;
    bool empty() const { return cols <= 0 || rows <= 0; }
};

// Height limit of every registration top view: higher points are not drawn.
constexpr float kRegHeightLimit = 2.0f;

// The factory matrix every run of the tool starts with.
RegMatrix FactoryRegMatrix();
// The process-wide matrices: the one registration produces and sends, and the
// copy the zoom view uses. Both start as the factory matrix.
RegMatrix& registrationMatrix();
RegMatrix& displayMatrix();

// Window of a top view from height h. Heights that are not a positive finite
// number, and windows too small or too large to draw, give the empty view.
RegViewWindow ViewWindowFromHeight(double h);

// Floor points of raw points through rows 0..2 of matrix; out is resized.
void TransformPoints(const RegMatrix& matrix, const std::vector<RegPoint>& raw,
                     std::vector<RegPoint>& out);

// roundf (halves away from zero) for |v| < 2^31, which callers ensure: the
// truncation and the fraction are exact, and no library call is made.
inline int RoundHalfAway(float v) {
    int i = static_cast<int>(v);
    const float frac = v - static_cast<float>(i);
    if (frac >= 0.5f) ++i;
    if (frac <= -0.5f) --i;
    return i;
}

// Pixel of a floor point in a window, or false when the point is above
// heightLimit or outside the window (the pixel may still fall one step off
// the picture through rounding; callers check). height = max(0, z).
inline bool MapPointToPixel(const RegPoint& p, const RegViewWindow& w, float heightLimit,
                            int& column, int& row, float& height) {
    if (!(p.z <= heightLimit)) return false;  // too high, or NaN
    if (!(p.x >= w.x0 && p.x <= w.x1 && p.y >= w.y0 && p.y <= w.y1)) return false;
    if (w.empty()) return false;
    height = p.z > 0.0f ? p.z : 0.0f;
    const float stepx = (w.x1 - w.x0) / static_cast<float>(w.rows - 1);
    const float stepy = (w.y1 - w.y0) / static_cast<float>(w.cols - 1);
    // Inside the window the quotients lie within 0..size-1 (give or take
    // rounding), so the conversions are in range.
    column = RoundHalfAway((p.y - w.y0) / stepy);
    row = RoundHalfAway((p.x - w.x0) / stepx);
    return true;
}

// The eight adjust commands of the gate and the anti-pinch area.
enum class RegAdjust {
    EnlargeLength,  // 1042
    EnlargeWidth,   // 1043
    ShrinkLength,   // 1044
    ShrinkWidth,    // 1045
    MoveUp,         // 1046
    MoveDown,       // 1047
    MoveLeft,       // 1048
    MoveRight,      // 1049
};

// adjustMode values: 0 before the gate is set, 1 adjusts the gate; every other
// value adjusts the anti-pinch area.
constexpr int32_t kAdjustNone = 0;
constexpr int32_t kAdjustGate = 1;
constexpr int32_t kAdjustAntiPinch = 2;

// The geometry state of one registration dialog, acting on two matrices (the
// process-wide ones unless a test hands in its own).
class RegGeometry {
public:
    RegGeometry();
    RegGeometry(RegMatrix& registration, RegMatrix& display);

    // Installation height from the height edit. A height that is not a
    // positive number of at most kMaxHeight metres leaves the matrices alone
    // and empties the top view; false then.
    bool SetInstallHeight(double h);
    // Rotation about the vertical axis by deg degrees, applied to the
    // registration matrix; the display matrix becomes the same.
    void RotateStep(float deg);
    // Moves the display matrix's height by delta and rederives the zoom window.
    void ZoomStep(double delta);
    // Gate from length (along y) and width (along x), centred on the origin;
    // adjustMode 1 and the areas generated. A size that is not a positive
    // number of at most kMaxGateSize metres clears the gate and the areas; false then.
    bool SetGate(double length, double width);
    // Cuts the gate into the five areas (mode 1) or re-splits the rest of the
    // gate around the anti-pinch area (any other mode); traces the areas.
    void SplitAreas(int32_t mode);
    // One adjust command by 0.01 m, then a split with the current mode and the
    // gate trace. Nothing happens while no valid gate is set.
    void Adjust(RegAdjust op);
    // Exchanges areas 1 and 5, and 2 and 4.
    void SwapAreas();

    static constexpr double kMaxHeight = 10.0;
    static constexpr double kMaxGateSize = 10.0;

    RegMatrix& regMatrix() { return *m_registration; }
    RegMatrix& dispMatrix() { return *m_display; }

    RegViewWindow topWindow;
    RegViewWindow zoomWindow;
    RegAreaSet areas{};
    int32_t adjustMode = kAdjustNone;
    // A gate has been set from valid sizes (the areas mean something).
    bool gateValid = false;

private:
    RegMatrix* m_registration;
    RegMatrix* m_display;
};

// The number at the start of an edit's text, as the C library reads it in the C locale
// whatever the user's locale: "2.8" is 2.8, "2,8" is 2 (the device's tools
// take only '.'), "" and text that is no number give 0.
double ParseEditNumber(const char* text);
