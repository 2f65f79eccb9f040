// Registration geometry: view windows from the height, rotation and zoom of
// the matrices, the gate with its five areas, the adjust commands, the swap
// and the mapping of floor points to pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "TraceCapture.h"
#include "registration/RegGeometry.h"

namespace {

// A geometry on matrices of the test's own, starting from the factory values.
class Geometry : public ::testing::Test {
protected:
    RegMatrix reg = FactoryRegMatrix();
    RegMatrix disp = FactoryRegMatrix();
    RegGeometry geo{reg, disp};
    TraceCapture trace;

    // Gate and areas as (x0, x1, y0, y1), the order of the traces.
    std::array<float, 4> span(int k) const {
        const RegRect& r = geo.areas[k];
        return {r.x0, r.x1, r.y0, r.y1};
    }
};

void expectSpan(const std::array<float, 4>& got, const std::array<float, 4>& want,
                const char* what) {
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], 1e-5f) << what << " value " << i;
}

TEST(RegViewWindow, FromHeight) {
    struct Case {
        double h;
        int cols, rows;
        float x1, y1;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {2.8, 392, 261, 1.3057f, 1.9606f},
        {3.0, 420, 279, 1.3989f, 2.1006f},
        // Nothing to draw: no height, a negative one, NaN, a window of a
        // single pixel, and one far too large to allocate.
        {0.0, 0, 0, 0, 0},
        {-2.8, 0, 0, 0, 0},
        {nan, 0, 0, 0, 0},
        {0.005, 0, 0, 0, 0},
        {1e30, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const RegViewWindow w = ViewWindowFromHeight(c.h);
        EXPECT_EQ(w.cols, c.cols) << c.h;
        EXPECT_EQ(w.rows, c.rows) << c.h;
        EXPECT_NEAR(w.x1, c.x1, 1e-4f) << c.h;
        EXPECT_NEAR(w.y1, c.y1, 1e-4f) << c.h;
        EXPECT_EQ(w.x0, -w.x1) << c.h;
        EXPECT_EQ(w.y0, -w.y1) << c.h;
        EXPECT_EQ(w.empty(), c.cols == 0) << c.h;
    }
}

TEST_F(Geometry, InstallHeightSetsBothMatricesAndTracesTheWindow) {
    EXPECT_TRUE(geo.SetInstallHeight(2.8));
    EXPECT_EQ(reg.m23(), 2.8f);
    EXPECT_EQ(disp.m23(), 2.8f);
    EXPECT_EQ(geo.topWindow.cols, 392);
    EXPECT_EQ(geo.zoomWindow.cols, 392);
    EXPECT_EQ(geo.zoomWindow.rows, 261);
    EXPECT_EQ(geo.zoomWindow.x1, 0.0f);  // zoom bounds wait for the first zoom step
    EXPECT_EQ(trace.out(), "-1.31 1.31 -1.96 1.96 \n");

    // A height that is no usable number leaves the device's height alone.
    for (double bad : {0.0, -1.0, 11.0, std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(geo.SetInstallHeight(bad)) << bad;
        EXPECT_EQ(reg.m23(), 2.8f) << bad;
        EXPECT_TRUE(geo.topWindow.empty()) << bad;
    }
}

TEST_F(Geometry, ZoomMovesOnlyTheDisplayHeight) {
    geo.SetInstallHeight(2.8);
    geo.ZoomStep(-0.1);
    EXPECT_EQ(disp.m23(), static_cast<float>(static_cast<double>(2.8f) - 0.1));
    EXPECT_EQ(reg.m23(), 2.8f);
    const RegViewWindow expect = ViewWindowFromHeight(static_cast<double>(disp.m23()));
    EXPECT_EQ(geo.zoomWindow.cols, expect.cols);
    EXPECT_LT(geo.zoomWindow.cols, 392);  // enlarging narrows the window
    // Zooming in past the floor empties the view instead of failing.
    for (int i = 0; i < 30; ++i) geo.ZoomStep(-0.1);
    EXPECT_TRUE(geo.zoomWindow.empty());
    for (int i = 0; i < 31; ++i) geo.ZoomStep(+0.1);
    EXPECT_EQ(geo.zoomWindow.cols, 392);
    // A rotation replaces the zoom offset with the registration height.
    geo.ZoomStep(-0.1);
    geo.RotateStep(-1.0f);
    EXPECT_EQ(disp, reg);
    EXPECT_EQ(disp.m23(), 2.8f);
}

TEST_F(Geometry, RotationActsOnTheFloorSide) {
    const RegMatrix before = reg;
    geo.RotateStep(-1.0f);
    const float r = -1.0f * 3.1415927f / 180.0f;
    const float cr = std::cos(r), sr = std::sin(r);
    for (int j = 0; j < 4; ++j) {
        EXPECT_FLOAT_EQ(reg.m[0][j], cr * before.m[0][j] - sr * before.m[1][j]) << j;
        EXPECT_FLOAT_EQ(reg.m[1][j], sr * before.m[0][j] + cr * before.m[1][j]) << j;
        EXPECT_EQ(reg.m[2][j], before.m[2][j]) << j;
        EXPECT_EQ(reg.m[3][j], before.m[3][j]) << j;
    }
    EXPECT_EQ(disp, reg);

    for (int i = 0; i < 9; ++i) geo.RotateStep(-1.0f);
    for (int i = 0; i < 10; ++i) geo.RotateStep(+1.0f);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(reg.m[i][j], before.m[i][j], 2e-6f) << i << j;
}

TEST(RegTransform, RowsZeroToTwoOfTheMatrix) {
    const RegMatrix f = FactoryRegMatrix();
    const std::vector<RegPoint> raw = {{0, 0, 0}, {1, 2, 3}, {0.5f, -0.25f, 2.68f}};
    std::vector<RegPoint> out;
    TransformPoints(f, raw, out);
    ASSERT_EQ(out.size(), raw.size());
    EXPECT_EQ(out[0].z, 2.680499f);  // the height offset alone
    for (size_t i = 0; i < raw.size(); ++i) {
        const RegPoint& p = raw[i];
        const double x = -0.039993 * p.x + 0.99919 * p.y - 0.004353 * p.z;
        const double z = 0.018795 * p.x - 0.003603 * p.y - 0.999817 * p.z + 2.680499;
        EXPECT_NEAR(out[i].x, x, 1e-5) << i;
        EXPECT_NEAR(out[i].z, z, 1e-5) << i;
    }
}

TEST_F(Geometry, DefaultGateIsCutAlongItsLength) {
    EXPECT_TRUE(geo.SetGate(1.4, 0.76));
    EXPECT_EQ(geo.adjustMode, kAdjustGate);
    expectSpan(span(0), {-0.38f, 0.38f, -0.70f, 0.70f}, "gate");
    expectSpan(span(1), {-0.38f, 0.38f, -0.70f, -0.54f}, "area1");
    expectSpan(span(2), {-0.38f, 0.38f, -0.54f, -0.38f}, "area2");
    expectSpan(span(3), {-0.38f, 0.38f, -0.38f, 0.38f}, "area3");
    expectSpan(span(4), {-0.38f, 0.38f, 0.38f, 0.54f}, "area4");
    expectSpan(span(5), {-0.38f, 0.38f, 0.54f, 0.70f}, "area5");
    EXPECT_EQ(geo.areas[kRegReserved], RegRect{});
    EXPECT_EQ(trace.out(),
              "all[-0.38 0.38] [-0.70 0.70]\n"
              "area1[-0.38 0.38] [-0.70 -0.54]\n"
              "area2[-0.38 0.38] [-0.54 -0.38]\n"
              "area3[-0.38 0.38] [-0.38 0.38]\n"
              "area4[-0.38 0.38] [0.38 0.54]\n"
              "area5[-0.38 0.38] [0.54 0.70]\n");
}

TEST_F(Geometry, WideAndSquareGates) {
    // Wider than long: cut along x; each area spans the gate's y.
    geo.SetGate(0.76, 1.4);
    expectSpan(span(1), {-0.70f, -0.54f, -0.38f, 0.38f}, "wide area1");
    expectSpan(span(3), {-0.38f, 0.38f, -0.38f, 0.38f}, "wide area3");
    expectSpan(span(5), {0.54f, 0.70f, -0.38f, 0.38f}, "wide area5");
    // Square: cut along y with step 0, so the outer areas are empty.
    geo.SetGate(1.0, 1.0);
    expectSpan(span(3), {-0.5f, 0.5f, -0.5f, 0.5f}, "square area3");
    for (int k : {1, 2, 4, 5}) EXPECT_EQ(geo.areas[k].y0, geo.areas[k].y1) << k;
    EXPECT_EQ(geo.areas[1].y0, -0.5f);
    EXPECT_EQ(geo.areas[5].y1, 0.5f);
}

TEST_F(Geometry, EnlargeLengthInBothModes) {
    geo.SetGate(1.4, 0.76);
    geo.Adjust(RegAdjust::EnlargeLength);
    expectSpan(span(0), {-0.38f, 0.38f, -0.71f, 0.71f}, "mode 1 gate");
    expectSpan(span(3), {-0.38f, 0.38f, -0.38f, 0.38f}, "mode 1 area3");  // a 0.76 m square
    expectSpan(span(1), {-0.38f, 0.38f, -0.71f, -0.545f}, "mode 1 area1");

    geo.SetGate(1.4, 0.76);
    geo.adjustMode = kAdjustAntiPinch;
    trace.clear();
    geo.Adjust(RegAdjust::EnlargeLength);
    expectSpan(span(0), {-0.38f, 0.38f, -0.70f, 0.70f}, "mode 2 gate");
    expectSpan(span(3), {-0.38f, 0.38f, -0.39f, 0.39f}, "mode 2 area3");
    expectSpan(span(1), {-0.38f, 0.38f, -0.70f, -0.545f}, "mode 2 area1");
    expectSpan(span(2), {-0.38f, 0.38f, -0.545f, -0.39f}, "mode 2 area2");
    expectSpan(span(4), {-0.38f, 0.38f, 0.39f, 0.545f}, "mode 2 area4");
    expectSpan(span(5), {-0.38f, 0.38f, 0.545f, 0.70f}, "mode 2 area5");
    // The six area lines, then the gate.
    EXPECT_EQ(trace.out(),
              "all[-0.38 0.38] [-0.70 0.70]\n"
              "area1[-0.38 0.38] [-0.70 -0.54]\n"
              "area2[-0.38 0.38] [-0.54 -0.39]\n"
              "area3[-0.38 0.38] [-0.39 0.39]\n"
              "area4[-0.38 0.38] [0.39 0.55]\n"
              "area5[-0.38 0.38] [0.55 0.70]\n"
              "[-0.38 0.38] [-0.70 0.70]\n");
}

TEST_F(Geometry, AdjustTable) {
    // Gate (x0, x1, y0, y1) after one press on the default gate; on it the
    // long axis is y and the short axis x. The width and move commands act
    // on the gate in every mode.
    struct Case {
        RegAdjust op;
        int32_t mode;
        std::array<float, 4> gate;
    };
    const Case cases[] = {
        {RegAdjust::EnlargeLength, 1, {-0.38f, 0.38f, -0.71f, 0.71f}},
        {RegAdjust::ShrinkLength, 1, {-0.38f, 0.38f, -0.69f, 0.69f}},
        {RegAdjust::EnlargeWidth, 1, {-0.39f, 0.39f, -0.70f, 0.70f}},
        {RegAdjust::ShrinkWidth, 1, {-0.37f, 0.37f, -0.70f, 0.70f}},
        {RegAdjust::MoveUp, 1, {-0.39f, 0.37f, -0.70f, 0.70f}},
        {RegAdjust::MoveDown, 1, {-0.37f, 0.39f, -0.70f, 0.70f}},
        {RegAdjust::MoveLeft, 1, {-0.38f, 0.38f, -0.71f, 0.69f}},
        {RegAdjust::MoveRight, 1, {-0.38f, 0.38f, -0.69f, 0.71f}},
        {RegAdjust::ShrinkLength, 2, {-0.38f, 0.38f, -0.70f, 0.70f}},
        {RegAdjust::EnlargeWidth, 2, {-0.39f, 0.39f, -0.70f, 0.70f}},
        {RegAdjust::MoveRight, 2, {-0.38f, 0.38f, -0.69f, 0.71f}},
    };
    for (const Case& c : cases) {
        geo.SetGate(1.4, 0.76);
        geo.adjustMode = c.mode;
        geo.Adjust(c.op);
        expectSpan(span(0), c.gate, "gate");
        // Mode 1 regenerates area 3 as a centred square of the short side.
        if (c.mode == 1) {
            const RegRect& a3 = geo.areas[3];
            EXPECT_NEAR(a3.y1 - a3.y0, std::min(c.gate[1] - c.gate[0], c.gate[3] - c.gate[2]),
                        1e-5f);
            EXPECT_NEAR(a3.y0 + a3.y1, c.gate[2] + c.gate[3], 1e-5f);
        }
        // Areas 1 and 5 always reach the gate's ends.
        EXPECT_NEAR(geo.areas[1].y0, c.gate[2], 1e-5f);
        EXPECT_NEAR(geo.areas[5].y1, c.gate[3], 1e-5f);
    }
    // In anti-pinch mode the length commands move area 3's edges only.
    geo.SetGate(1.4, 0.76);
    geo.adjustMode = kAdjustAntiPinch;
    geo.Adjust(RegAdjust::ShrinkLength);
    expectSpan(span(3), {-0.38f, 0.38f, -0.37f, 0.37f}, "pinch shrunk");
}

TEST_F(Geometry, SwapTwiceRestoresAndSplitUndoesIt) {
    geo.SetGate(1.4, 0.76);
    const RegAreaSet first = geo.areas;
    geo.SwapAreas();
    EXPECT_EQ(geo.areas[1], first[5]);
    EXPECT_EQ(geo.areas[2], first[4]);
    EXPECT_EQ(geo.areas[3], first[3]);
    EXPECT_EQ(geo.areas[4], first[2]);
    EXPECT_EQ(geo.areas[0], first[0]);
    geo.SwapAreas();
    EXPECT_EQ(geo.areas, first);
    geo.SwapAreas();
    geo.SplitAreas(kAdjustGate);
    EXPECT_EQ(geo.areas, first);
}

TEST_F(Geometry, UnusableGateSizesClearTheAreas) {
    geo.SetGate(1.4, 0.76);
    const std::pair<const char*, const char*> inputs[] = {
        {"", "0.76"}, {"abc", "0.76"}, {"1.4", "-0.76"}, {"0", "0"}, {"1e9", "0.76"}};
    for (const auto& in : inputs) {
        EXPECT_FALSE(geo.SetGate(ParseEditNumber(in.first), ParseEditNumber(in.second)))
            << in.first << " " << in.second;
        EXPECT_FALSE(geo.gateValid);
        EXPECT_EQ(geo.areas, RegAreaSet{});
        geo.Adjust(RegAdjust::EnlargeLength);  // nothing to adjust
        EXPECT_EQ(geo.areas, RegAreaSet{});
    }
    EXPECT_TRUE(geo.SetGate(ParseEditNumber("1.4"), ParseEditNumber("0.76")));
}

TEST(RegMapPoint, FilterAndPixel) {
    const RegViewWindow w = ViewWindowFromHeight(2.8);
    struct Case {
        RegPoint p;
        bool drawn;
        int column, row;
        float height;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {{0, 0, 2.0f}, true, 196, 130, 2.0f},  // exactly the limit is drawn
        {{0, 0, 2.0001f}, false, 0, 0, 0},
        {{0, 0, -0.3f}, true, 196, 130, 0.0f},  // below the floor: height 0
        {{w.x0, w.y0, 1}, true, 0, 0, 1},
        {{w.x1, w.y1, 1}, true, 391, 260, 1},
        {{w.x1 + 0.001f, 0, 1}, false, 0, 0, 0},
        {{0, w.y0 - 0.001f, 1}, false, 0, 0, 0},
        {{nan, 0, 1}, false, 0, 0, 0},
        {{0, 0, nan}, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        int column = -1, row = -1;
        float h = -1;
        const bool drawn = MapPointToPixel(c.p, w, kRegHeightLimit, column, row, h);
        EXPECT_EQ(drawn, c.drawn) << c.p.x << " " << c.p.y << " " << c.p.z;
        if (!drawn || !c.drawn) continue;
        EXPECT_EQ(column, c.column) << c.p.x << " " << c.p.y;
        EXPECT_EQ(row, c.row) << c.p.x << " " << c.p.y;
        EXPECT_EQ(h, c.height);
    }
    int column = 0, row = 0;
    float h = 0;
    EXPECT_FALSE(MapPointToPixel({0, 0, 0}, RegViewWindow{}, kRegHeightLimit, column, row, h));
}

}  // namespace
