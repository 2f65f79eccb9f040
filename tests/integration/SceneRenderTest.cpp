// The simulated device's scenes rendered by the 2D view: known things at
// known pixels, and the same picture for the same seed.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "Scene.h"
#include "views/JetTable.h"
#include "views/TopView.h"

namespace {

using Bgr = cv::Vec3b;

Bgr jet(int i) {
    return Bgr(kJetTable[i][0], kJetTable[i][1], kJetTable[i][2]);
}

// Pixel of a floor position in the default gate's picture (the grid of the
// scene covers exactly the picture: x -1.08..1.08 down, y -1.2..1.2 across).
cv::Point pixelOf(float x, float y) {
    const float sx = (scene::kGridXMax - scene::kGridXMin) / 159.0f;
    const float sy = (scene::kGridYMax - scene::kGridYMin) / 239.0f;
    return cv::Point(static_cast<int>(std::round((y - scene::kGridYMin) / sy)),
                     static_cast<int>(std::round((x - scene::kGridXMin) / sx)));
}

class SceneRender : public ::testing::Test {
protected:
    // The first frame of the seed with a person near the middle of the gate.
    void renderPersonInGate(uint64_t seed) {
        scene::Scene s(seed);
        for (uint64_t n = 0; n < 4 * scene::kCycleFrames; ++n) {
            s.frame(n, frame);
            if (!frame.persons.empty() && std::fabs(frame.persons[0].y) < 0.2f) break;
        }
        ASSERT_FALSE(frame.persons.empty());
        persons = RenderTopView(*view, frame.points.data(), frame.points.size(),
                                static_cast<int>(frame.objects.size()), frame.objects.data(),
                                frame.areas, rects);
    }
    Bgr at(cv::Point p) { return view->mat().at<Bgr>(p); }

    scene::Frame frame;
    std::unique_ptr<TopViewImage> view = std::make_unique<TopViewImage>();
    TopViewRects rects;
    int persons = 0;
};

TEST_F(SceneRender, WallsFloorPersonBoxesAndAreaAtTheirPixels) {
    renderPersonInGate(11);
    // The side walls are 1 m high: index 128.
    EXPECT_EQ(at(pixelOf(0.5f, 0.3f)), jet(128));
    EXPECT_EQ(at(pixelOf(-0.5f, -0.3f)), jet(128));
    // Bare floor a few millimetres around 0: index 0 or 1.
    const Bgr floor = at(pixelOf(0.9f, 1.0f));
    EXPECT_TRUE(floor == jet(0) || floor == jet(1));
    // The crown of the head is flat at the person's height.
    const scene::PersonState& p = frame.persons[0];
    const int index = static_cast<int>(std::round(p.height * 1000.0f / (2000.0f / 255.0f)));
    EXPECT_EQ(at(pixelOf(p.x, p.y)), jet(index));
    EXPECT_GT(index, 190);  // a grown-up: 1.55 m or more

    // Reported persons are counted and boxed in green.
    int reported = 0;
    for (const ObjRecord& r : frame.objects) reported += r.kind >= 0 ? 1 : 0;
    EXPECT_EQ(persons, reported);
    ASSERT_GT(rects.objectCount, 0);
    const PixelRect& r = rects.objects[rects.objectCount - 1];
    EXPECT_EQ(view->mat().at<Bgr>(r.top, r.left + 3), Bgr(0, 255, 0));
    // The gate's whole area is outlined in blue at its top-left corner.
    EXPECT_EQ(at(pixelOf(-0.38f, -0.5f)), Bgr(255, 0, 0));
}

TEST(Scene, SameSeedSameFrameOtherSeedOtherScene) {
    scene::Frame a, b, c;
    scene::Scene(42).frame(17, a);
    scene::Scene(42).frame(17, b);
    scene::Scene(43).frame(17, c);
    EXPECT_EQ(a.points, b.points);
    EXPECT_EQ(a.objects.size(), b.objects.size());
    EXPECT_NE(a.points, c.points);
    EXPECT_EQ(a.points.size(), 460800u);
}

TEST(Scene, PassagesBringPersonsBagsAndUnclassifiedBlobs) {
    scene::Scene s(3);
    scene::Frame f;
    int personFrames = 0, bagFrames = 0, blobs = 0, emptyFrames = 0;
    bool blobFirst = true;
    for (uint64_t n = 0; n < 40 * scene::kCycleFrames; n += 2) {
        s.frame(n, f);
        ASSERT_LE(f.objects.size(), 10u);
        bool person = false, bag = false;
        for (size_t i = 0; i < f.objects.size(); ++i) {
            const ObjRecord& r = f.objects[i];
            if (r.kind >= 0) {
                person = true;
                EXPECT_GT(r.value, 1.5f);
                EXPECT_LT(r.value, 1.95f);
            }
            if (r.kind == -1) {
                bag = true;
                EXPECT_GT(r.value, 0.0f);
                EXPECT_LT(r.value, 0.1f);
            }
            if (r.kind == -2) {
                ++blobs;
                blobFirst = blobFirst && i == 0;
            }
        }
        personFrames += person;
        bagFrames += bag;
        emptyFrames += f.objects.empty();
    }
    EXPECT_GT(personFrames, 100);
    EXPECT_GT(bagFrames, 10);
    EXPECT_GT(blobs, 5);
    EXPECT_GT(emptyFrames, 100);
    EXPECT_TRUE(blobFirst);  // placed before the persons, as the 2D view must skip it
}

}  // namespace
