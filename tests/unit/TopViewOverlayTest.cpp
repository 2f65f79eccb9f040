// What the 2D view draws over the height map, at known pixels of the default
// gate's picture.
#include <gtest/gtest.h>

#include <memory>
#include <opencv2/core.hpp>

#include "TraceCapture.h"
#include "views/JetTable.h"
#include "views/TopView.h"

namespace {

using Bgr = cv::Vec3b;

// The default gate: 0.76 m wide (x), 1.4 m long (y), five slices along y.
AreaBlock defaultGate() {
    const float edges[6] = {-0.70f, -0.54f, -0.38f, 0.38f, 0.54f, 0.70f};
    AreaBlock a{};
    a[0] = -0.38f, a[1] = -0.70f, a[2] = 0.38f, a[3] = 0.70f;
    for (int k = 0; k < 5; ++k) {
        a[4 + 4 * k] = -0.38f;
        a[5 + 4 * k] = edges[k];
        a[6 + 4 * k] = 0.38f;
        a[7 + 4 * k] = edges[k + 1];
    }
    return a;
}

ObjRecord record(int index, int kind, float x1, float y1, float x2, float y2) {
    ObjRecord r;
    r.index = index;
    r.kind = kind;
    r.x1 = x1, r.y1 = y1, r.x2 = x2, r.y2 = y2;
    return r;
}

class Overlay : public ::testing::Test {
protected:
    int render(int n, const ObjRecord* records) {
        return RenderTopView(*view, nullptr, 0, n, records, defaultGate(), rects);
    }
    Bgr at(int row, int col) { return view->mat().at<Bgr>(row, col); }

    std::unique_ptr<TopViewImage> view = std::make_unique<TopViewImage>();
    TopViewRects rects;
    TraceCapture trace;
};

TEST_F(Overlay, ObjectsAreGreenBoxesTracedByFramePositionSkippingKindMinus2) {
    const ObjRecord records[3] = {record(7, 0, -0.25f, -0.15f, 0.25f, 0.15f),
                                  record(0, -2, -0.36f, -0.6f, -0.30f, -0.5f),
                                  record(9, -1, 0.05f, 0.4f, 0.2f, 0.6f)};
    EXPECT_EQ(render(3, records), 1);
    // View x -1.08..1.08 over 160 rows, y -1.2..1.2 over 240 columns.
    EXPECT_NE(trace.out().find("[0], [105 61][134 98]\n"), std::string::npos) << trace.out();
    EXPECT_EQ(trace.out().find("[1], "), std::string::npos);
    EXPECT_NE(trace.out().find("[2], [159 83][179 94]\n"), std::string::npos);
    const Bgr green(0, 255, 0);
    EXPECT_EQ(at(61, 120), green);  // top edge of the person's box
    EXPECT_EQ(at(80, 105), green);  // left edge
    EXPECT_EQ(at(88, 159), green);  // the object's left edge
    EXPECT_EQ(at(50, 120), Bgr(128, 0, 0));
    // The label "7" lies inside the box, below its top edge.
    int greenInLabel = 0;
    for (int r = 66; r <= 81; ++r)
        for (int c = 110; c <= 122; ++c) greenInLabel += at(r, c)[1] > 128 ? 1 : 0;
    EXPECT_GT(greenInLabel, 5);
}

TEST_F(Overlay, AreasOneToFourAreBlueAreaFiveIsNotDrawn) {
    render(0, nullptr);
    const Bgr blue(255, 0, 0);
    // Whole area: rows 52..107, columns 50..189.
    EXPECT_EQ(at(80, 50), blue);
    EXPECT_EQ(at(52, 120), blue);
    EXPECT_EQ(at(80, 70), Bgr(128, 0, 0));
    // Area 4 (y 0.38..0.54) starts at column 157; area 5 (0.54..0.70) would
    // start at 173, the end of area 4, drawn one column short of it.
    EXPECT_EQ(at(80, 157), blue);
    EXPECT_EQ(at(80, 180), Bgr(128, 0, 0));
}

TEST_F(Overlay, PeopleBoxIsWhiteWithBlackTextInTheBottomLeftCorner) {
    const ObjRecord records[2] = {record(1, 0, -0.2f, -0.6f, 0.2f, -0.3f),
                                  record(2, 3, -0.2f, 0.3f, 0.2f, 0.6f)};
    EXPECT_EQ(render(2, records), 2);
    const Bgr white(255, 255, 255);
    EXPECT_EQ(at(153, 6), white);
    EXPECT_EQ(at(153, 4), Bgr(128, 0, 0));
    EXPECT_EQ(at(156, 6), Bgr(128, 0, 0));
    int dark = 0;
    for (int r = 144; r <= 151; ++r)
        for (int c = 10; c <= 50; ++c) dark += at(r, c)[0] < 100 ? 1 : 0;
    EXPECT_GT(dark, 10);
}

TEST_F(Overlay, FrameWithoutObjectsCountsNobodyAndTracesNoBox) {
    EXPECT_EQ(render(0, nullptr), 0);
    EXPECT_EQ(trace.out(), "");
    // The box is still there, wide enough for "People: 0".
    int white = 0;
    for (int c = 5; c < 80; ++c) white += at(153, c) == Bgr(255, 255, 255) ? 1 : 0;
    EXPECT_GT(white, 30);
}

}  // namespace
