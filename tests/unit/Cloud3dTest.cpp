// The 3D view's processing: height colours, the clip box, short point
// blocks, the scene list, the mouse camera and the worker's hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
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

// The frame's points processed one at a time, as plainly as it can be said:
// what every faster path has to reproduce exactly.
std::vector<ColoredPoint> referenceCloud(const std::vector<uint8_t>& bytes,
                                         const AreaBlock& areas) {
    const size_t count = std::min<size_t>(bytes.size() / 12, kCloudPoints);
    std::vector<ColoredPoint> out(count);
    float zMin = std::numeric_limits<float>::max();
    float zMax = std::numeric_limits<float>::lowest();
    for (size_t i = 0; i < count; ++i) {
        const float z = readF32le(bytes.data() + i * 12 + 8);
        zMin = std::min(zMin, z);
        zMax = std::max(zMax, z);
    }
    float range = zMax - zMin;
    if (!(range > kFlatRange)) range = 1.0f;
    const CloudClipBox box = CloudClipBoxFor(areas);
    for (size_t i = 0; i < count; ++i) {
        ColoredPoint& c = out[i];
        c.x = readF32le(bytes.data() + i * 12);
        c.y = readF32le(bytes.data() + i * 12 + 4);
        c.z = readF32le(bytes.data() + i * 12 + 8);
        HeightColour((c.z - zMin) / range, c.r, c.g, c.b);
        if (!box.contains(c.x, c.y)) c.x = c.y = c.z = 0.0f;
    }
    return out;
}

uint32_t bitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// Puts the instruction limit back however a test ends.
struct InstructionLimit {
    explicit InstructionLimit(CloudInstructions most) { LimitCloudInstructions(most); }
    ~InstructionLimit() { LimitCloudInstructions(CloudInstructions::Avx2); }
};

TEST(Cloud3d, EveryInstructionSetGivesThePlainResult) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    // Points drawn from x, y in [-lo, lo] and z in [0, 2.5]; with probability
    // `odd` a coordinate is instead one of `oddValues`.
    const std::vector<float> nonFinite = {nan, -nan, inf, -inf};
    const std::vector<float> nans = {nan};
    const std::vector<float> zeros = {0.0f, -0.0f};
    const std::vector<float> extremes = {3e38f, -3e38f, 1e-40f, -1e-40f, 1.0f};
    const std::vector<float> edges = {-1.0f, 1.0f, -1.4f, 1.4f, 1.5f, -1.0000001f, 1.4000001f};
    const struct {
        const char* name;
        size_t points;
        size_t strayBytes;
        float spread;
        float odd;
        const std::vector<float>* oddValues;
        bool flat;
        AreaBlock areas;
    } cases[] = {
        {"a whole frame", kCloudPoints, 0, 3.0f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
        {"a long frame", kCloudPoints + 3, 5, 3.0f, 0.0f, nullptr, false, area(-1, -2, 1, 2)},
        {"NaN and infinities", 1003, 0, 2.0f, 0.05f, &nonFinite, false, area(-1, -1, 1, 1)},
        {"NaN among finite", 2001, 0, 2.0f, 0.5f, &nans, false, area(-1, -1, 1, 1)},
        {"mostly not finite", 64, 0, 2.0f, 0.7f, &nonFinite, false, area(-1, -1, 2, 1)},
        {"signed zeros", 77, 0, 2.0f, 0.3f, &zeros, false, area(-1, -1, 1, 1)},
        {"huge and tiny", 131, 0, 2.0f, 0.2f, &extremes, false, area(-1, -1, 1, 1)},
        {"on the box edges", 517, 0, 2.0f, 0.5f, &edges, false, area(-1, -1, 1, 1)},
        {"flat", 203, 0, 2.0f, 0.0f, nullptr, true, area(-1, -1, 1, 1)},
        {"flat with NaN", 45, 0, 2.0f, 0.2f, &nonFinite, true, area(-1, -1, 1, 1)},
        {"one point", 1, 0, 0.5f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
        {"seven points", 7, 11, 2.0f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
        {"eight points", 8, 0, 2.0f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
        {"nine points", 9, 1, 2.0f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
        {"sixteen points", 16, 4, 2.0f, 0.1f, &nonFinite, false, area(-1, -1, 1, 1)},
        {"seventeen points", 17, 8, 2.0f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
        {"no whole point", 0, 11, 2.0f, 0.0f, nullptr, false, area(-1, -1, 1, 1)},
    };
    std::vector<CloudInstructions> paths = {CloudInstructions::Plain};
    if (CloudInstructionsAvailable() == CloudInstructions::Avx2)
        paths.push_back(CloudInstructions::Avx2);

    std::mt19937 random(20240611);
    for (const auto& c : cases) {
        std::uniform_real_distribution<float> across(-c.spread, c.spread), height(0.0f, 2.5f);
        std::uniform_real_distribution<float> chance(0.0f, 1.0f);
        auto coordinate = [&](float usual) {
            if (c.oddValues && chance(random) < c.odd)
                return (*c.oddValues)[random() % c.oddValues->size()];
            return usual;
        };
        std::vector<Point3> points(c.points);
        for (Point3& p : points) {
            p.x = coordinate(across(random));
            p.y = coordinate(across(random));
            p.z = coordinate(c.flat ? 1.25f : height(random));
        }
        const std::string block = pointBlock(points) + std::string(c.strayBytes, '\x7f');
        // Exactly the block's size, so that reading past it shows under the
        // address sanitizer.
        const std::vector<uint8_t> bytes(block.begin(), block.end());
        const std::vector<ColoredPoint> expected = referenceCloud(bytes, c.areas);

        for (CloudInstructions path : paths) {
            const InstructionLimit limit(path);
            ASSERT_EQ(CloudInstructionsInUse(), path);
            std::vector<ColoredPoint> out(3, ColoredPoint{9, 9, 9, 9, 9, 9});
            ProcessCloud(bytes.data(), bytes.size(), c.areas, out);
            ASSERT_EQ(out.size(), expected.size()) << c.name;
            for (size_t i = 0; i < out.size(); ++i) {
                const ColoredPoint &got = out[i], &want = expected[i];
                ASSERT_EQ((std::array<uint32_t, 3>{bitsOf(got.x), bitsOf(got.y), bitsOf(got.z)}),
                          (std::array<uint32_t, 3>{bitsOf(want.x), bitsOf(want.y), bitsOf(want.z)}))
                    << c.name << ", path " << static_cast<int>(path) << ", point " << i;
                ASSERT_EQ((std::array<int, 3>{got.r, got.g, got.b}),
                          (std::array<int, 3>{want.r, want.g, want.b}))
                    << c.name << ", path " << static_cast<int>(path) << ", point " << i << ", z "
                    << points[i].z;
            }
        }
    }
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
