// Registration pictures at known pixels: raw depth colours, the top-view
// height map with its 3 x 3 splats, the dashed cross, the area rectangles and
// labels, and the point dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <opencv2/core.hpp>

#include "RecordingControlSink.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "registration/RegDrawing.h"
#include "registration/RegWorkbench.h"
#include "registration/RegistrationTiming.h"
#include "views/JetTable.h"

namespace {

using Bgr = cv::Vec3b;

Bgr jet(int i) {
    return Bgr(kJetTable[i][0], kJetTable[i][1], kJetTable[i][2]);
}

bool isRed(const Bgr& c) {
    return c[2] > 150 && c[0] < 100 && c[1] < 100;
}

// A 2 x 2 window of 1 cm pixels with its origin at pixel (0, 0).
RegViewWindow window(int cols, int rows) {
    RegViewWindow w;
    w.x0 = 0, w.y0 = 0;
    w.x1 = 0.01f * static_cast<float>(rows - 1);
    w.y1 = 0.01f * static_cast<float>(cols - 1);
    w.cols = cols, w.rows = rows;
    return w;
}

TEST(RegRawView, DepthColours) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // z: 0, 6.0, beyond 6.0, negative, NaN, the middle (3.0 m -> 127.5 -> 128).
    const std::vector<RegPoint> raw = {{0, 0, 0.0f},  {0, 0, 6.0f}, {0, 0, 9.5f},
                                       {0, 0, -1.0f}, {0, 0, nan},  {0, 0, 3.0f}};
    const cv::Mat image = RenderRawView(raw, 3, 2);
    ASSERT_EQ(image.rows, 2);
    ASSERT_EQ(image.cols, 3);
    EXPECT_EQ(image.at<Bgr>(0, 0), jet(0));
    EXPECT_EQ(image.at<Bgr>(0, 1), jet(255));
    EXPECT_EQ(image.at<Bgr>(0, 1), Bgr(0, 0, 128));  // dark red
    EXPECT_EQ(image.at<Bgr>(0, 2), jet(255));
    EXPECT_EQ(image.at<Bgr>(1, 0), jet(0));
    EXPECT_EQ(image.at<Bgr>(1, 0), Bgr(128, 0, 0));  // dark blue
    EXPECT_EQ(image.at<Bgr>(1, 1), jet(0));
    EXPECT_EQ(image.at<Bgr>(1, 2), jet(128));
    // No pixels for an empty size or fewer points than it has.
    EXPECT_TRUE(RenderRawView(raw, 0, 2).empty());
    EXPECT_TRUE(RenderRawView(raw, 4, 2).empty());
    EXPECT_TRUE(RenderRawView(raw, -3, -2).empty());
}

TEST(RegProjection, SplatsAndHighestPointWins) {
    TraceCapture trace;
    const RegViewWindow w = window(20, 10);
    // A 0.5 m point at row 4, column 6; a 1.0 m point at row 4, column 7
    // overlapping it; a lower point later on the same pixel does not win.
    const std::vector<RegPoint> floor = {
        {0.04f, 0.06f, 0.5f}, {0.04f, 0.07f, 1.0f}, {0.04f, 0.07f, 0.2f}, {0.04f, 0.07f, 2.5f}};
    const cv::Mat image = ProjectRegView(floor, w, nullptr, nullptr);
    ASSERT_EQ(image.rows, 10);
    ASSERT_EQ(image.cols, 20);
    for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < 20; ++c) {
            Bgr expect = jet(0);
            if (r >= 3 && r <= 5 && c == 5) expect = jet(64);
            if (r >= 3 && r <= 5 && c >= 6 && c <= 8) expect = jet(128);  // 127.5 rounds up
            EXPECT_EQ(image.at<Bgr>(r, c), expect) << r << "," << c;
        }
    }
    EXPECT_EQ(jet(64), Bgr(255, 128, 0));
    EXPECT_EQ(trace.out(),
              "point_cloud.size() = 4 ,xmin=0.00,xmax=0.09,ymin=0.00,ymax=0.19\n"
              "usefulpoint = 3\n");
}

TEST(RegProjection, EdgesPaintNothingOutside) {
    const RegViewWindow w = window(20, 10);
    // Right edge of row 4, and the bottom-left corner.
    const std::vector<RegPoint> floor = {{0.04f, w.y1, 0.5f}, {w.x1, 0.0f, 0.5f}};
    const cv::Mat image = ProjectRegView(floor, w, nullptr, nullptr);
    int painted = 0;
    for (int r = 0; r < 10; ++r)
        for (int c = 0; c < 20; ++c) painted += image.at<Bgr>(r, c) == jet(64) ? 1 : 0;
    EXPECT_EQ(painted, 6 + 4);  // 3 x 2 at the edge, 2 x 2 in the corner
    EXPECT_EQ(image.at<Bgr>(4, 19), jet(64));
    EXPECT_EQ(image.at<Bgr>(5, 0), jet(0));  // no wrap into the next row
    EXPECT_EQ(image.at<Bgr>(3, 0), jet(0));
    EXPECT_EQ(image.at<Bgr>(9, 1), jet(64));
}

TEST(RegProjection, EmptyWindowHasNoPixels) {
    const std::vector<RegPoint> floor = {{0, 0, 1}};
    EXPECT_TRUE(ProjectRegView(floor, RegViewWindow{}, nullptr, nullptr).empty());
    EXPECT_TRUE(ProjectRegView(floor, ViewWindowFromHeight(0.0), nullptr, nullptr).empty());
    // No floor points: all background.
    const cv::Mat image = ProjectRegView({}, window(5, 4), nullptr, nullptr);
    ASSERT_EQ(image.size(), cv::Size(5, 4));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) EXPECT_EQ(image.at<Bgr>(r, c), jet(0)) << r << "," << c;
}

TEST(RegAreas, RectanglesClampedAndLabelsCentred) {
    TraceCapture trace;
    const RegViewWindow w = ViewWindowFromHeight(2.8);
    RegAreaSet areas{};
    areas[0] = {-0.38f, -0.70f, 0.38f, 0.70f};
    for (int k = 1; k <= 5; ++k)
        areas[k] = {-0.38f, -1.0f + 0.4f * (k - 1), 0.38f, -0.6f + 0.4f * (k - 1)};
    areas[5] = {-0.38f, 1.0f, 0.38f, 5.0f};  // reaches beyond the window
    RegPixelRects rects{};
    cv::Mat image = ProjectRegView({}, w, &areas, &rects);
    ASSERT_EQ(image.cols, 392);
    EXPECT_EQ(rects[5].right, 391);  // clamped to the border
    EXPECT_EQ(rects[0].left,
              MapRect(-0.38f, -0.70f, 0.38f, 0.70f, w.x0, w.x1, w.y0, w.y1, 392, 261).left);
    DrawRegAreas(image, rects, true);
    for (int k = 1; k <= 5; ++k) {
        const PixelRect& r = rects[k];
        EXPECT_TRUE(isRed(image.at<Bgr>(r.top, (r.left + r.right) / 2))) << k;
        EXPECT_TRUE(isRed(image.at<Bgr>((r.top + r.bottom) / 2, r.left))) << k;
        // The label's strokes lie around the centre, none far from it.
        const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
        int near = 0;
        for (int y = cy - 10; y <= cy + 10; ++y)
            for (int x = cx - 8; x <= cx + 8; ++x) near += isRed(image.at<Bgr>(y, x)) ? 1 : 0;
        EXPECT_GT(near, 10) << k;
        const std::string line = "[" + std::to_string(k) + "], [" + std::to_string(cx) + "] [" +
                                 std::to_string(cy) + "] - [" + std::to_string(r.left) + " " +
                                 std::to_string(r.right) + "] [" + std::to_string(r.top) + " " +
                                 std::to_string(r.bottom) + "] \n";
        EXPECT_NE(trace.out().find(line), std::string::npos) << line;
    }
    // The gate itself is not drawn: its end at y = 0.70 lies between areas 4 and 5.
    EXPECT_FALSE(isRed(image.at<Bgr>(130, rects[0].right)));
}

TEST(RegCross, DashesOfTwelveWithGapsOfEight) {
    cv::Mat image(261, 392, CV_8UC3, cv::Scalar(128, 0, 0));
    DrawDashedCross(image);
    const int mid = 261 / 2;
    for (int x : {2, 6, 11, 22, 31, 385}) EXPECT_TRUE(isRed(image.at<Bgr>(mid, x))) << x;
    for (int x : {14, 17, 34, 37, 375}) EXPECT_EQ(image.at<Bgr>(mid, x), Bgr(128, 0, 0)) << x;
    for (int y : {2, 11, 22, 250}) EXPECT_TRUE(isRed(image.at<Bgr>(y, 196))) << y;
    EXPECT_EQ(image.at<Bgr>(15, 196), Bgr(128, 0, 0));
    EXPECT_EQ(image.at<Bgr>(10, 10), Bgr(128, 0, 0));
}

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(RegWorkbenchDumps, RewrittenAtEveryHeightConfirmation) {
    TempDir dir;
    RegMatrix reg = FactoryRegMatrix(), disp = FactoryRegMatrix();
    RegWorkbench bench(reg, disp);
    bench.dumpDir = dir.file("");
    bench.SetPointData({{1, 2, 3}, {0.5f, -0.25f, 2.68f}, {0, 0, 0}}, 3, 1);
    bench.ConfirmHeight(2.8);
    bench.ConfirmHeight(2.7);
    const std::string raw = readFile(dir.file("ssfile.xyz"));
    const std::string floor = readFile(dir.file("dsfile.xyz"));
    EXPECT_EQ(raw, "1.00 2.00 3.00\n0.50 -0.25 2.68\n0.00 0.00 0.00\n");
    EXPECT_EQ(lineCount(floor), 3);
    EXPECT_EQ(floor.substr(floor.rfind(' ', floor.size() - 2)),
              " 2.70\n");  // (0,0,0) at the height
    // Every line as printf writes it, ties and tiny negatives included.
    std::vector<RegPoint> odd = {
        {0.125f, -0.001f, 0.005f}, {2.675f, -1.005f, 1e30f}, {-0.0f, 123.456f, -7.995f}};
    for (int i = 0; i < 200; ++i)
        odd.push_back({i * 0.0137f - 1.3f, i * -0.00731f, std::ldexp(1.0f, i % 40 - 20)});
    ASSERT_TRUE(WritePointDumps(dir.file(""), odd, odd));
    std::string expect;
    for (const RegPoint& p : odd) {
        char line[200];
        std::snprintf(line, sizeof line, "%.02f %.02f %.02f\n", static_cast<double>(p.x),
                      static_cast<double>(p.y), static_cast<double>(p.z));
        expect += line;
    }
    EXPECT_EQ(readFile(dir.file("dsfile.xyz")), expect);
    // A dump that cannot be written does not stop the picture.
    bench.dumpDir = dir.file("missing/dir");
    EXPECT_FALSE(bench.ConfirmHeight(2.8).empty());
}

TEST(RegRawViewThread, DrawsOnceTheDialogIsUpUnlessItHasGone) {
    registrationTiming().dialogInitPollMs = 5;
    registrationTiming().rawViewDelayMs = 5;
    g_regDialogInitialised = 1;
    auto raw = std::make_shared<const std::vector<RegPoint>>(
        std::vector<RegPoint>{{0, 0, 6.0f}, {0, 0, 0.0f}});
    auto sink = std::make_shared<RecordingControlSink>(48, 32);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    StartRawViewThread(raw, 2, 1, sink, 1030, alive);
    ASSERT_TRUE(sink->waitForImages(1030, 1));
    const cv::Mat shown = sink->lastImage(1030);
    EXPECT_EQ(shown.size(), cv::Size(48, 32));
    EXPECT_EQ(shown.at<Bgr>(16, 0), jet(255));  // left half: 6 m, dark red
    EXPECT_EQ(shown.at<Bgr>(16, 47), jet(0));

    // A dialog that went before the thread drew: nothing is drawn.
    auto gone = std::make_shared<RecordingControlSink>(48, 32);
    auto dead = std::make_shared<std::atomic<bool>>(false);
    StartRawViewThread(raw, 2, 1, gone, 1030, dead);
    auto witness = std::make_shared<RecordingControlSink>(48, 32);
    StartRawViewThread(raw, 2, 1, witness, 1030, alive);  // started later, draws
    ASSERT_TRUE(witness->waitForImages(1030, 1));
    EXPECT_FALSE(gone->waitForImages(1030, 1, std::chrono::milliseconds(50)));
    registrationTiming().dialogInitPollMs = 1000;
    registrationTiming().rawViewDelayMs = 1000;
}

}  // namespace
