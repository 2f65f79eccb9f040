// Projection of points into the top view: splat, highest point wins, colour
// index, bounds, and the mapping of object and area rectangles.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "core/ByteOrder.h"
#include "views/JetTable.h"
#include "views/TopView.h"

namespace {

struct P {
    float x, y, z;
};

std::vector<uint8_t> pointBytes(const std::vector<P>& points) {
    std::vector<uint8_t> bytes(points.size() * 12);
    for (size_t i = 0; i < points.size(); ++i) {
        writeF32le(&bytes[i * 12], points[i].x);
        writeF32le(&bytes[i * 12 + 4], points[i].y);
        writeF32le(&bytes[i * 12 + 8], points[i].z);
    }
    return bytes;
}

using Ltrb = std::array<int32_t, 4>;
Ltrb ltrb(const PixelRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// Bounds whose extension gives one metre per pixel: row = x, column = y.
class Projection : public ::testing::Test {
protected:
    void project(const std::vector<uint8_t>& bytes, int objCount = 0,
                 const ObjRecord* records = nullptr) {
        ProjectTopView(*view, bytes.data(), bytes.size(), kTopViewHeightRange, 0.7f, 158.3f, 0.1f,
                       238.9f, objCount, records, areas, rects);
    }
    void projectPoints(const std::vector<P>& points) { project(pointBytes(points)); }

    BgrColour pixel(int row, int col) const {
        const uint8_t* p = &view->pixels[(row * kTopViewWidth + col) * 3];
        return {p[0], p[1], p[2]};
    }

    std::unique_ptr<TopViewImage> view = std::make_unique<TopViewImage>();
    AreaBlock areas{};
    TopViewRects rects;
};

TEST_F(Projection, EmptyFrameIsIndexZeroEverywhere) {
    view->pixels.fill(7);
    view->heights.fill(5.0f);
    projectPoints({});
    EXPECT_EQ(pixel(0, 0), kJetTable[0]);
    EXPECT_EQ(pixel(159, 239), kJetTable[0]);
    EXPECT_EQ(view->heights[100], 0.0f);
}

TEST_F(Projection, PointSplatsIntoItsPixelAndEightNeighbours) {
    projectPoints({{10.0f, 20.0f, 1.0f}});
    const BgrColour colour = pixel(10, 20);
    EXPECT_NE(colour, kJetTable[0]);
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) EXPECT_EQ(pixel(10 + dr, 20 + dc), colour);
    EXPECT_EQ(pixel(8, 20), kJetTable[0]);
    EXPECT_EQ(pixel(10, 22), kJetTable[0]);
}

TEST_F(Projection, HeightRangeIsTopOfScaleAndAboveItIsSkipped) {
    projectPoints({{10.0f, 10.0f, 2.0f}, {30.0f, 30.0f, 2.01f}, {50.0f, 50.0f, 1.0f}});
    EXPECT_EQ(pixel(10, 10), kJetTable[255]);
    EXPECT_EQ(pixel(30, 30), kJetTable[0]);
    EXPECT_EQ(view->heights[30 * kTopViewWidth + 30], 0.0f);
    // 1 m is index round(127.5) in single precision.
    EXPECT_EQ(pixel(50, 50), kJetTable[128]);
}

TEST_F(Projection, NegativeHeightCountsAsFloorAndDoesNotBeatHigherPoints) {
    projectPoints({{10.0f, 10.0f, 0.5f}, {10.0f, 11.0f, -0.5f}});
    // The floor point's own pixel was already painted higher by the splat.
    EXPECT_EQ(pixel(10, 11), pixel(10, 10));
    EXPECT_EQ(pixel(10, 12), kJetTable[0]);
    EXPECT_EQ(view->heights[10 * kTopViewWidth + 12], 0.0f);
}

TEST_F(Projection, HighestPointWinsWhateverTheOrder) {
    projectPoints(
        {{10.0f, 10.0f, 1.8f}, {10.0f, 10.0f, 0.3f}, {40.0f, 40.0f, 0.3f}, {40.0f, 40.0f, 1.8f}});
    EXPECT_EQ(pixel(10, 10), pixel(40, 40));
    EXPECT_EQ(pixel(10, 10), kJetTable[230]);  // round(1.8 * 127.5) = 229.5 -> 230
    EXPECT_FLOAT_EQ(view->heights[10 * kTopViewWidth + 10], 1.8f);
}

TEST_F(Projection, PointJustOutsideDrawsOnlyItsInsideNeighbours) {
    // Column 239.6 rounds to 240, row -0.6 to -1.
    projectPoints({{5.0f, 239.6f, 1.0f}, {-0.6f, 100.0f, 1.0f}});
    EXPECT_EQ(pixel(5, 239), kJetTable[128]);
    EXPECT_EQ(pixel(4, 239), kJetTable[128]);
    EXPECT_EQ(pixel(5, 238), kJetTable[0]);
    EXPECT_EQ(pixel(0, 99), kJetTable[128]);
    EXPECT_EQ(pixel(0, 101), kJetTable[128]);
    EXPECT_EQ(pixel(1, 100), kJetTable[0]);
}

TEST_F(Projection, BrokenPointsAndTrailingBytesAreIgnored) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<uint8_t> bytes = pointBytes({{nan, 10.0f, 1.0f},
                                             {10.0f, inf, 1.0f},
                                             {1e30f, -1e30f, 1.0f},
                                             {10.0f, 10.0f, nan},
                                             {70.0f, 70.0f, 1.0f}});
    // Eleven more bytes of a point that never completes: x = 20, y = 20, z cut short.
    const std::vector<uint8_t> tail = pointBytes({{20.0f, 20.0f, 1.0f}});
    bytes.insert(bytes.end(), tail.begin(), tail.begin() + 11);
    project(bytes);
    EXPECT_EQ(pixel(70, 70), kJetTable[128]);
    EXPECT_EQ(pixel(20, 20), kJetTable[0]);
    EXPECT_EQ(pixel(10, 10), kJetTable[0]);
}

TEST_F(Projection, SkippedKindLeavesNoGapInObjectRectangles) {
    ObjRecord r[3];
    r[0].kind = 0;
    r[0].x1 = 10, r[0].y1 = 20, r[0].x2 = 30, r[0].y2 = 50;
    r[1].kind = -2;
    r[1].x1 = 1, r[1].y1 = 1, r[1].x2 = 2, r[1].y2 = 2;
    r[2].kind = -1;
    r[2].x1 = 80, r[2].y1 = 90, r[2].x2 = 60, r[2].y2 = 100;
    areas[4] = 10, areas[5] = 10, areas[6] = 20, areas[7] = 300;  // area 1 runs off the picture
    project(std::vector<uint8_t>(), 3, r);
    ASSERT_EQ(rects.objectCount, 2);
    EXPECT_EQ(ltrb(rects.objects[0]), (Ltrb{20, 10, 50, 30}));
    EXPECT_EQ(ltrb(rects.objects[1]), (Ltrb{90, 60, 100, 80}));
    EXPECT_EQ(rects.areas[1].left, 10);
    EXPECT_EQ(rects.areas[1].right, 239);
    EXPECT_EQ(rects.areas[1].bottom, 20);
}

TEST_F(Projection, MoreRecordsThanTheBufferHoldsAreCut) {
    std::vector<ObjRecord> many(25);
    project(std::vector<uint8_t>(), 25, many.data());
    EXPECT_EQ(rects.objectCount, kMaxObjRecords);
}

TEST(TopViewBounds, MarginGoesOnTheLongAxisSquareTakesX) {
    AreaBlock longY{};
    longY[0] = -0.38f, longY[1] = -0.7f, longY[2] = 0.38f, longY[3] = 0.7f;
    TopViewBounds b = TopViewBoundsForArea(longY);
    EXPECT_FLOAT_EQ(b.xMin, -0.38f);
    EXPECT_FLOAT_EQ(b.xMax, 0.38f);
    EXPECT_FLOAT_EQ(b.yMin, -1.1f);
    EXPECT_FLOAT_EQ(b.yMax, 1.1f);

    AreaBlock square{};
    square[0] = 0, square[1] = 0, square[2] = 1, square[3] = 1;
    b = TopViewBoundsForArea(square);
    EXPECT_FLOAT_EQ(b.xMin, -0.4f);
    EXPECT_FLOAT_EQ(b.xMax, 1.4f);
    EXPECT_FLOAT_EQ(b.yMin, 0.0f);
    EXPECT_FLOAT_EQ(b.yMax, 1.0f);
}

TEST(MapRect, CornersAreOrderedRoundedAndClamped) {
    // One unit per pixel: column = y, row = x.
    auto map = [](float x0, float y0, float x1, float y1) {
        return ltrb(MapRect(x0, y0, x1, y1, 0, 159, 0, 239, 240, 160));
    };
    EXPECT_EQ(map(30.0f, 50.0f, 10.0f, 20.0f), (Ltrb{20, 10, 50, 30}));
    // Halves round away from zero; -0.5 becomes -1 and is clamped to 0.
    EXPECT_EQ(map(-0.5f, 10.5f, 200.0f, 1e9f), (Ltrb{11, 0, 239, 159}));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(map(nan, nan, 5.0f, 6.0f), (Ltrb{0, 0, 6, 5}));
}

TEST(JetTable, SegmentEndsRunFromDarkBlueToDarkRed) {
    const std::vector<std::pair<int, BgrColour>> expected = {
        {0, {128, 0, 0}},     {31, {252, 0, 0}},   {32, {255, 0, 0}},    {33, {255, 4, 0}},
        {95, {255, 252, 0}},  {96, {254, 255, 2}}, {158, {6, 255, 250}}, {159, {1, 255, 254}},
        {160, {0, 252, 255}}, {223, {0, 0, 255}},  {224, {0, 0, 252}},   {255, {0, 0, 128}}};
    for (const auto& e : expected) EXPECT_EQ(kJetTable[e.first], e.second) << "index " << e.first;
}

}  // namespace
