// The top view's projection is computed with a peak map and a 3 x 3 maximum;
// it must give exactly the picture of the straightforward splat (every point
// raising its pixel and the eight around it), pixel for pixel, on random and
// edge clouds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/ByteOrder.h"
#include "views/JetTable.h"
#include "views/TopView.h"

namespace {

// The straightforward splat, kept here as the reference.
int roundHalfAwayRef(float v) {
    int i = static_cast<int>(v);
    const float frac = v - static_cast<float>(i);
    if (frac >= 0.5f) ++i;
    if (frac <= -0.5f) --i;
    return i;
}

// Each pixel's height: the highest point whose 3 x 3 block covers it, 0 if none.
std::vector<float> referenceHeights(const std::vector<uint8_t>& bytes, float range, float xMin,
                                    float xMax, float yMin, float yMax) {
    xMin -= 0.7f;
    xMax += 0.7f;
    yMin -= 0.1f;
    yMax += 0.1f;
    const float sx = (xMax - xMin) / static_cast<float>(kTopViewHeight - 1);
    const float sy = (yMax - yMin) / static_cast<float>(kTopViewWidth - 1);
    std::vector<float> heights(kTopViewPixels, 0.0f);
    for (size_t i = 0; i + 12 <= bytes.size(); i += 12) {
        const float z = readF32le(&bytes[i + 8]);
        if (!(z <= range)) continue;
        const float hz = z > 0.0f ? z : 0.0f;
        const float vc = (readF32le(&bytes[i + 4]) - yMin) / sy;
        const float vr = (readF32le(&bytes[i]) - xMin) / sx;
        if (!(vr > -1.5f && vr < kTopViewHeight + 0.5f && vc > -1.5f && vc < kTopViewWidth + 0.5f))
            continue;
        const int r = roundHalfAwayRef(vr);
        const int c = roundHalfAwayRef(vc);
        for (int dr = -1; dr <= 1; ++dr)
            for (int dc = -1; dc <= 1; ++dc) {
                const int rr = r + dr, cc = c + dc;
                if (rr < 0 || rr >= kTopViewHeight || cc < 0 || cc >= kTopViewWidth) continue;
                float& h = heights[rr * kTopViewWidth + cc];
                if (hz >= h) h = hz;
            }
    }
    return heights;
}

std::vector<uint8_t> referencePicture(const std::vector<float>& heights, float range) {
    const float indexStep = range * 1000.0f / 255.0f;
    std::vector<uint8_t> pixels;
    for (float h : heights) {
        int index = roundHalfAwayRef(h * 1000.0f / indexStep);
        if (index > 255) index = 255;
        pixels.insert(pixels.end(), kJetTable[index].begin(), kJetTable[index].end());
    }
    return pixels;
}

void put(std::vector<uint8_t>& bytes, float x, float y, float z) {
    const size_t at = bytes.size();
    bytes.resize(at + 12);
    writeF32le(&bytes[at], x);
    writeF32le(&bytes[at + 4], y);
    writeF32le(&bytes[at + 8], z);
}

// Every set of processor instructions the projection has, each checked
// against the splat; those this processor lacks are reported as skipped.
class TopViewIdentity : public ::testing::TestWithParam<TopViewInstructions> {
protected:
    void SetUp() override {
        if (!UseTopViewInstructionsForTesting(GetParam()))
            GTEST_SKIP() << "this processor lacks these instructions";
    }
    void TearDown() override { UseTopViewInstructionsForTesting(TopViewInstructions::Widest); }
};

TEST_P(TopViewIdentity, SamePictureAsTheSplatOnRandomAndEdgeClouds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Bounds of the default gate: rows along x, columns along y.
    const float xMin = -0.38f, xMax = 0.38f, yMin = -1.1f, yMax = 1.1f;
    const float sx = (xMax - xMin + 1.4f) / (kTopViewHeight - 1);
    const float sy = (yMax - yMin + 0.2f) / (kTopViewWidth - 1);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> across(-2.5f, 2.5f), height(-0.5f, 2.6f);

    struct Cloud {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Cloud> clouds(6);
    clouds[0].name = "random, wider than the view";
    for (int i = 0; i < 38400; ++i)
        put(clouds[0].bytes, across(random), across(random), height(random));
    clouds[1].name = "a device-like scan: rows of neighbouring points";
    for (int r = 0; r < 160; ++r)
        for (int c = 0; c < 240; ++c)
            put(clouds[1].bytes, -1.0f + r * 0.0125f, -1.3f + c * 0.011f,
                0.02f * ((r * 7 + c * 3) % 11) +
                    (r > 60 && r < 90 && c > 100 && c < 130 ? 1.7f : 0.0f));
    clouds[2].name = "non-finite coordinates and heights";
    for (float v : {nan, inf, -inf}) {
        put(clouds[2].bytes, v, 0.0f, 1.0f);
        put(clouds[2].bytes, 0.0f, v, 1.0f);
        put(clouds[2].bytes, 0.0f, 0.0f, v);
    }
    put(clouds[2].bytes, 0.1f, 0.1f, 1.2f);
    clouds[3].name = "heights at and above the 2 m range, below the floor";
    for (float z : {2.0f, 2.0000002f, 1.9999999f, 3.0f, -1.0f, 0.0f, -0.0f, 1e-8f})
        put(clouds[3].bytes, 0.0f, 0.2f * z, z);
    clouds[4].name = "points on the rounding and border half-steps";
    for (float k : {-1.5f, -1.4999f, -0.5f, 0.5f, 158.5f, 159.5f, 160.4999f, 160.5f})
        for (float m : {-1.5f, -0.5f, 0.5f, 238.5f, 239.5f, 240.4999f, 240.5f})
            put(clouds[4].bytes, (xMin - 0.7f) + k * sx, (yMin - 0.1f) + m * sy, 0.5f + 0.01f * k);
    clouds[5].name = "one point short of a whole record, then a lone point";
    put(clouds[5].bytes, 0.0f, 0.0f, 1.0f);
    clouds[5].bytes.resize(clouds[5].bytes.size() + 7, 0x40);

    auto view = std::make_unique<TopViewImage>();
    TopViewRects rects;
    AreaBlock areas{};
    for (const Cloud& cloud : clouds) {
        // Lengths short by 0 to 8 points and a part point, so that each tail
        // after the steps of four and eight points and each split into four
        // parts is met.
        for (size_t drop : {0, 12, 24, 36, 48, 60, 72, 84, 96, 101}) {
            if (drop > cloud.bytes.size()) continue;
            const size_t length = cloud.bytes.size() - drop;
            ProjectTopView(*view, cloud.bytes.data(), length, kTopViewHeightRange, xMin, xMax, yMin,
                           yMax, 0, nullptr, areas, rects);
            const std::vector<uint8_t> part(cloud.bytes.begin(), cloud.bytes.begin() + length);
            const std::vector<float> heights =
                referenceHeights(part, kTopViewHeightRange, xMin, xMax, yMin, yMax);
            EXPECT_EQ(std::vector<float>(view->heights.begin(), view->heights.end()), heights)
                << cloud.name << ", " << drop << " bytes short";
            EXPECT_EQ(std::vector<uint8_t>(view->pixels.begin(), view->pixels.end()),
                      referencePicture(heights, kTopViewHeightRange))
                << cloud.name << ", " << drop << " bytes short";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachInstructionSet, TopViewIdentity,
                         ::testing::Values(TopViewInstructions::Sse2, TopViewInstructions::Avx2,
                                           TopViewInstructions::Widest),
                         [](const ::testing::TestParamInfo<TopViewInstructions>& info) {
                             switch (info.param) {
                                 case TopViewInstructions::Sse2:
                                     return std::string("Sse2");
                                 case TopViewInstructions::Avx2:
                                     return std::string("Avx2");
                                 case TopViewInstructions::Widest:
                                     return std::string("Widest");
                             }
                             return std::string("Unknown");
                         });

}  // namespace
