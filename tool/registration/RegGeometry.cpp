#include "registration/RegGeometry.h"

#include <algorithm>
#include <cmath>

#include "core/NumberText.h"
#include "core/Trace.h"

namespace {

// Half opening angles of the device's view across x (25 degrees) and along y
// (35 degrees), in radians.
constexpr float kHalfAngleX = 0.43633232f;
constexpr float kHalfAngleY = 0.61086524f;
// Pixels per metre of a top view.
constexpr float kPixelsPerMetre = 100.0f;
// A window larger than this (about 4000 x 4000 pixels) is not drawn.
constexpr int64_t kMaxViewPixels = 16LL * 1000 * 1000;
// One press of an adjust button moves an edge by this much.
constexpr double kAdjustStep = 0.01;
constexpr float kPi = 3.1415927f;

float addStep(float v, double step) {
    return static_cast<float>(static_cast<double>(v) + step);
}

bool usableLength(double v, double max) {
    return std::isfinite(v) && v > 0.0 && v <= max;
}

void traceArea(const char* name, const RegRect& r) {
    tracef("%s[%.02f %.02f] [%.02f %.02f]\n", name, static_cast<double>(r.x0),
           static_cast<double>(r.x1), static_cast<double>(r.y0), static_cast<double>(r.y1));
}

// Low and high edge of a rectangle on the cut axis (x when alongX).
float& lo(RegRect& r, bool alongX) {
    return alongX ? r.x0 : r.y0;
}
float& hi(RegRect& r, bool alongX) {
    return alongX ? r.x1 : r.y1;
}

}  // namespace

RegMatrix FactoryRegMatrix() {
    RegMatrix f;
    f.m = {{{-0.039993f, 0.99919f, -0.004353f, 0.0f},
            {0.999023f, 0.040067f, 0.018636f, 0.0f},
            {0.018795f, -0.003603f, -0.999817f, 2.680499f},
            {0.0f, 0.0f, 0.0f, 1.0f}}};
    return f;
}

RegMatrix& registrationMatrix() {
    static RegMatrix matrix = FactoryRegMatrix();
    return matrix;
}

RegMatrix& displayMatrix() {
    static RegMatrix matrix = FactoryRegMatrix();
    return matrix;
}

RegViewWindow ViewWindowFromHeight(double h) {
    RegViewWindow w;
    if (!(std::isfinite(h) && h > 0.0)) return w;
    // The tangents in single precision, the products in double.
    const float fa = std::tan(kHalfAngleX);
    const float fb = std::tan(kHalfAngleY);
    w.x1 = static_cast<float>(static_cast<double>(fa) * h);
    w.x0 = static_cast<float>(-(static_cast<double>(fa) * h));
    w.y1 = static_cast<float>(static_cast<double>(fb) * h);
    w.y0 = static_cast<float>(-(static_cast<double>(fb) * h));
    const float colsF = (w.y1 - w.y0) * kPixelsPerMetre;
    const float rowsF = (w.x1 - w.x0) * kPixelsPerMetre;
    // Checked before the conversion: a huge height would not fit an int32.
    if (!(colsF >= 2.0f && rowsF >= 2.0f) || static_cast<double>(colsF) * rowsF > kMaxViewPixels)
        return RegViewWindow{};
    w.cols = static_cast<int32_t>(colsF);
    w.rows = static_cast<int32_t>(rowsF);
    return w;
}

void TransformPoints(const RegMatrix& matrix, const std::vector<RegPoint>& raw,
                     std::vector<RegPoint>& out) {
    const auto& m = matrix.m;
    out.resize(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const RegPoint& p = raw[i];
        RegPoint& q = out[i];
        q.x = m[0][1] * p.y + m[0][0] * p.x + m[0][2] * p.z + m[0][3];
        q.y = m[1][1] * p.y + m[1][0] * p.x + m[1][2] * p.z + m[1][3];
        q.z = m[2][1] * p.y + m[2][0] * p.x + m[2][2] * p.z + m[2][3];
    }
}

RegGeometry::RegGeometry() : RegGeometry(registrationMatrix(), displayMatrix()) {}

RegGeometry::RegGeometry(RegMatrix& registration, RegMatrix& display)
    : m_registration(&registration), m_display(&display) {}

bool RegGeometry::SetInstallHeight(double h) {
    if (!usableLength(h, kMaxHeight)) {
        // 0 (an empty or non-numeric edit), a negative or an absurd height
        // would be sent to the device as its height: keep the matrices.
        topWindow = RegViewWindow{};
        tracef("install height %.02f refused\n", h);
        return false;
    }
    m_registration->m23() = static_cast<float>(h);
    m_display->m23() = static_cast<float>(h);
    topWindow = ViewWindowFromHeight(h);
    tracef("%.02f %.02f %.02f %.02f \n", static_cast<double>(topWindow.x0),
           static_cast<double>(topWindow.x1), static_cast<double>(topWindow.y0),
           static_cast<double>(topWindow.y1));
    zoomWindow.cols = topWindow.cols;
    zoomWindow.rows = topWindow.rows;
    return true;
}

void RegGeometry::RotateStep(float deg) {
    const float r = deg * kPi / 180.0f;
    const float cr = std::cos(r);
    const float sr = std::sin(r);
    const float rot[4][4] = {{cr, -sr, 0, 0}, {sr, cr, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    const RegMatrix& m = *m_registration;
    RegMatrix n;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += rot[i][k] * m.m[k][j];
            n.m[i][j] = sum;
        }
    }
    *m_registration = n;
    *m_display = n;
}

void RegGeometry::ZoomStep(double delta) {
    m_display->m23() = addStep(m_display->m23(), delta);
    zoomWindow = ViewWindowFromHeight(static_cast<double>(m_display->m23()));
}

bool RegGeometry::SetGate(double length, double width) {
    adjustMode = kAdjustGate;
    if (!usableLength(length, kMaxGateSize) || !usableLength(width, kMaxGateSize)) {
        tracef("gate size %.02f x %.02f refused\n", length, width);
        gateValid = false;
        areas = RegAreaSet{};
        return false;
    }
    gateValid = true;
    RegRect& gate = areas[kRegGate];
    gate.x0 = static_cast<float>(-(width * 0.5));
    gate.x1 = static_cast<float>(width * 0.5);
    gate.y0 = static_cast<float>(-(length * 0.5));
    gate.y1 = static_cast<float>(length * 0.5);
    SplitAreas(kAdjustGate);
    return true;
}

void RegGeometry::SplitAreas(int32_t mode) {
    const RegRect gate = areas[kRegGate];
    const float dx = gate.x1 - gate.x0;
    const float dy = gate.y1 - gate.y0;
    const float shortSide = std::min(dx, dy);
    const float step = (std::max(dx, dy) - shortSide) * 0.25f;
    const bool alongX = dx > dy;  // a square gate is cut along y
    const float u0 = alongX ? gate.x0 : gate.y0;
    const float u1 = alongX ? gate.x1 : gate.y1;

    // Areas 1, 2, 4, 5 (and area 3 in mode 1) span the gate across the cut.
    auto slice = [&](int k, float from, float to) {
        RegRect& r = areas[k];
        if (alongX) {
            r.x0 = from;
            r.x1 = to;
            r.y0 = gate.y0;
            r.y1 = gate.y1;
        } else {
            r.y0 = from;
            r.y1 = to;
            r.x0 = gate.x0;
            r.x1 = gate.x1;
        }
    };

    if (mode == kAdjustGate) {
        const float e1 = u0 + step;
        const float e2 = e1 + step;
        const float e3 = e2 + shortSide;
        const float e4 = e3 + step;
        const float e5 = e4 + step;
        slice(1, u0, e1);
        slice(2, e1, e2);
        slice(3, e2, e3);
        slice(4, e3, e4);
        slice(5, e4, e5);
    } else {
        RegRect& pinch = areas[kRegAntiPinch];
        const float a0 = lo(pinch, alongX);
        const float a1 = hi(pinch, alongX);
        const float h1 = (a0 - u0) * 0.5f;
        const float e1 = u0 + h1;
        slice(1, u0, e1);
        slice(2, e1, e1 + h1);
        const float h2 = (u1 - a1) * 0.5f;
        const float e4 = a1 + h2;
        slice(4, a1, e4);
        slice(5, e4, e4 + h2);
    }

    traceArea("all", gate);
    const char* names[] = {"area1", "area2", "area3", "area4", "area5"};
    for (int k = 1; k <= 5; ++k) traceArea(names[k - 1], areas[k]);
}

void RegGeometry::Adjust(RegAdjust op) {
    if (!gateValid) return;
    RegRect& gate = areas[kRegGate];
    const float dx = gate.x1 - gate.x0;
    const float dy = gate.y1 - gate.y0;
    const bool longIsX = dx > dy;
    const bool shortIsX = dy > dx;  // on a square gate both axes are y

    bool onLong = true;
    double loStep = 0;
    double hiStep = 0;
    switch (op) {
        case RegAdjust::EnlargeLength:
            loStep = -kAdjustStep, hiStep = kAdjustStep;
            break;
        case RegAdjust::ShrinkLength:
            loStep = kAdjustStep, hiStep = -kAdjustStep;
            break;
        case RegAdjust::EnlargeWidth:
            onLong = false, loStep = -kAdjustStep, hiStep = kAdjustStep;
            break;
        case RegAdjust::ShrinkWidth:
            onLong = false, loStep = kAdjustStep, hiStep = -kAdjustStep;
            break;
        case RegAdjust::MoveUp:
            onLong = false, loStep = -kAdjustStep, hiStep = -kAdjustStep;
            break;
        case RegAdjust::MoveDown:
            onLong = false, loStep = kAdjustStep, hiStep = kAdjustStep;
            break;
        case RegAdjust::MoveLeft:
            loStep = -kAdjustStep, hiStep = -kAdjustStep;
            break;
        case RegAdjust::MoveRight:
            loStep = kAdjustStep, hiStep = kAdjustStep;
            break;
    }
    const bool axisX = onLong ? longIsX : shortIsX;
    // Only the length commands act on the anti-pinch area outside mode 1.
    const bool onPinch = adjustMode != kAdjustGate &&
                         (op == RegAdjust::EnlargeLength || op == RegAdjust::ShrinkLength);
    RegRect& target = onPinch ? areas[kRegAntiPinch] : gate;
    lo(target, axisX) = addStep(lo(target, axisX), loStep);
    hi(target, axisX) = addStep(hi(target, axisX), hiStep);

    SplitAreas(adjustMode);
    tracef("[%.02f %.02f] [%.02f %.02f]\n", static_cast<double>(gate.x0),
           static_cast<double>(gate.x1), static_cast<double>(gate.y0),
           static_cast<double>(gate.y1));
}

void RegGeometry::SwapAreas() {
    std::swap(areas[1], areas[5]);
    std::swap(areas[2], areas[4]);
}

double ParseEditNumber(const char* text) {
    return leadingNumber(text);
}
