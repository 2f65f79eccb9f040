// The 3D view's processing: height colours, the clip box, short point
// blocks, the scene list, the mouse camera and the worker's hand-over.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "core/ByteOrder.h"
#include "core/Flags.h"
#include "core/ViewFrames.h"
#include "views/Cloud3d.h"
#include "views/Scene3d.h"
#include "views/View3dWorker.h"

namespace {

std::string pointBlock(const std::vector<Point3>& points) {
    std::string bytes(points.size() * 12, '\0');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    for (const Point3& q : points) {
        writeF32le(p, q.x);
        writeF32le(p + 4, q.y);
        writeF32le(p + 8, q.z);
        p += 12;
    }
    return bytes;
}

std::vector<ColoredPoint> process(const std::string& bytes, const AreaBlock& areas) {
    std::vector<ColoredPoint> out;
    ProcessCloud(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), areas, out);
    return out;
}

AreaBlock area(float x0, float y0, float x1, float y1) {
    AreaBlock a{};
    a[0] = x0, a[1] = y0, a[2] = x1, a[3] = y1;
    return a;
}

TEST(Cloud3d, HeightColoursAlongTheScale) {
    const struct {
        float t;
        uint8_t r, g, b;
    } cases[] = {
        {0.0f, 0, 0, 255},     {0.25f, 0, 127, 255},  {0.5f, 127, 255, 127}, {0.75f, 255, 255, 0},
        {1.0f, 255, 255, 0},   {-3.0f, 0, 0, 255},    {7.0f, 255, 255, 0},   {NAN, 0, 0, 255},
        {0.625f, 255, 255, 0}, {0.375f, 0, 255, 255},
    };
    for (const auto& c : cases) {
        uint8_t r, g, b;
        HeightColour(c.t, r, g, b);
        EXPECT_EQ((std::array<int, 3>{r, g, b}), (std::array<int, 3>{c.r, c.g, c.b})) << c.t;
    }
}

TEST(Cloud3d, AFlatCloudIsAllBlue) {
    std::vector<Point3> flat(kCloudPoints, Point3{0.1f, 0.1f, 1.25f});
    const auto out = process(pointBlock(flat), area(-1, -1, 1, 1));
    ASSERT_EQ(out.size(), static_cast<size_t>(kCloudPoints));
    for (const ColoredPoint& p : out) {
        ASSERT_EQ((std::array<int, 3>{p.r, p.g, p.b}), (std::array<int, 3>{0, 0, 255}));
        ASSERT_FLOAT_EQ(p.z, 1.25f);
    }
}

TEST(Cloud3d, TheClipBoxWidensTheLongerSideAndKeepsColours) {
    // Area 2 m along x, 1 m along y: x gets the 0.4 m margin. A square area
    // is widened along y instead.
    const struct {
        AreaBlock areas;
        Point3 p;
        bool inside;
    } cases[] = {
        {area(0, 0, 2, 1), {-0.4f, 0.5f, 1}, true},   {area(0, 0, 2, 1), {2.4f, 1.0f, 1}, true},
        {area(0, 0, 2, 1), {-0.41f, 0.5f, 1}, false}, {area(0, 0, 2, 1), {1.0f, 1.01f, 1}, false},
        {area(0, 0, 1, 1), {0.5f, -0.4f, 1}, true},   {area(0, 0, 1, 1), {0.5f, 1.4f, 1}, true},
        {area(0, 0, 1, 1), {-0.01f, 0.5f, 1}, false}, {area(0, 0, 1, 1), {0.5f, 1.41f, 1}, false},
        {area(0, 0, 1, 1), {NAN, 0.5f, 1}, false},
    };
    for (const auto& c : cases) {
        // A second point sets the height range so that the tested one is red.
        const auto out = process(pointBlock({c.p, Point3{0.5f, 0.5f, 0.0f}}), c.areas);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0].x != 0.0f || out[0].y != 0.0f, c.inside) << c.p.x << "," << c.p.y;
        EXPECT_EQ(out[0].z, c.inside ? 1.0f : 0.0f);
        EXPECT_EQ((std::array<int, 3>{out[0].r, out[0].g, out[0].b}),
                  (std::array<int, 3>{255, 255, 0}));
    }
}

TEST(Cloud3d, AShortBlockIsNeverReadPastItsEnd) {
    // 100 whole points and 7 stray bytes, in a buffer of exactly that size.
    std::string bytes = pointBlock(std::vector<Point3>(100, Point3{0, 0, 2})) + "1234567";
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    std::vector<ColoredPoint> out;
    ProcessCloud(exact.data(), exact.size(), area(-1, -1, 1, 1), out);
    EXPECT_EQ(out.size(), 100u);
    ProcessCloud(exact.data(), 11, area(-1, -1, 1, 1), out);
    EXPECT_TRUE(out.empty());
    // A longer block is read as 38400 points.
    const std::string big = pointBlock(std::vector<Point3>(kCloudPoints + 5, Point3{0, 0, 1}));
    EXPECT_EQ(process(big, area(-1, -1, 1, 1)).size(), static_cast<size_t>(kCloudPoints));
}

TEST(Camera3d, WheelLimitsAndDragging) {
    Camera3d cam;
    for (int i = 0; i < 5; ++i) cam.OnMouseWheel(120);
    EXPECT_EQ(cam.m_camDist, 1.0f);
    cam.OnMouseWheel(0);  // zero counts as away
    EXPECT_EQ(cam.m_camDist, 2.0f);
    for (int i = 0; i < 300; ++i) cam.OnMouseWheel(-120);
    EXPECT_EQ(cam.m_camDist, 200.0f);
    cam.OnMouseMove(50, 50);  // not dragging: nothing
    EXPECT_EQ(cam.m_camYaw, 0.0f);
    cam.OnLButtonDown(10, 20);
    cam.OnMouseMove(15, 17);
    cam.OnMouseMove(25, 27);
    EXPECT_EQ(cam.m_camYaw, 15.0f);
    EXPECT_EQ(cam.m_camPitch, 7.0f);
    cam.OnLButtonUp();
    cam.OnMouseMove(100, 100);
    EXPECT_EQ(cam.m_camYaw, 15.0f);
}

TEST(Scene3d, GridAxesCameraAndPointColours) {
    Camera3d cam;
    cam.m_camYaw = 90;
    std::vector<Point3> points = {{1, 0, 0.5f}, {0, 1, 1.5f}};
    Scene3dDrawList list;
    BuildScene(cam, points, list);
    ASSERT_EQ(list.lines.size(), 41u * 2 + 3);
    EXPECT_EQ(list.lines.back().rgb[2], 255);
    EXPECT_EQ(list.lines.back().width, 3.0f);
    EXPECT_EQ(list.lines.back().b[2], 2.0f);
    // Yaw 90 turns x into -z; the eye 3 m away shifts z by -3.
    const auto& m = list.modelView;
    const float x[4] = {1, 0, 0, 1};
    float eye[4] = {};
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k) eye[r] += m[k * 4 + r] * x[k];
    EXPECT_NEAR(eye[0], 0.0f, 1e-5);
    EXPECT_NEAR(eye[2], -4.0f, 1e-5);
    EXPECT_EQ(list.pointRgb, (std::vector<uint8_t>{0, 0, 255, 255, 255, 0}));
    EXPECT_EQ(list.pointXyz.size(), 6u);
    // Points the worker moved to the origin are not drawn.
    std::vector<Point3> visible;
    VisiblePoints({ColoredPoint{0, 0, 0, 1, 2, 3}, ColoredPoint{1, 2, 3, 0, 0, 0}}, visible);
    ASSERT_EQ(visible.size(), 1u);
    EXPECT_EQ(visible[0].z, 3.0f);
}

TEST(View3dWorker, PublishesEveryFrameNotOnlyTheFirst) {
    view3dTiming().startWaitMs = 0;
    view3dTiming().pollMs = 1;
    view3dTiming().afterFrameMs = 0;
    g_appClosing = false;
    g_pointFrameNew = 0;
    ViewFrames frames;
    Cloud3dShare share;
    frames.m_areas = area(-1, -1, 1, 1);
    std::thread worker([&] { Run3DWorker(frames, share); });
    for (int i = 1; i <= 3; ++i) {
        {
            std::lock_guard<std::mutex> lock(frames.m_pointMutex);
            frames.m_pointData = std::make_shared<const std::string>(
                pointBlock({{0.5f, 0.5f, static_cast<float>(i)}, {0, 0.5f, 0}}));
        }
        g_pointFrameNew = 1;
        for (int w = 0; w < 2000 && share.framesProcessed.load() < static_cast<uint64_t>(i); ++w)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(share.m_3dNew.exchange(false)) << i;
        std::lock_guard<std::mutex> lock(share.m_3dMutex);
        ASSERT_EQ(share.m_3dColored.size(), 2u);
        EXPECT_EQ(share.m_3dColored[0].z, static_cast<float>(i));
    }
    EXPECT_TRUE(share.m_3dPublished.load());
    frames.stop.request();
    worker.join();
    view3dTiming().startWaitMs = 2000;
    view3dTiming().pollMs = 30;
    view3dTiming().afterFrameMs = 20;
}

}  // namespace
