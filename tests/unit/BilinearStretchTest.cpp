// The live view's stretch must give exactly the bytes of cv::resize
// (INTER_LINEAR), for the picture sizes the tool draws and for odd ones.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "views/BilinearStretch.h"

namespace {

TEST(BilinearStretch, SameBytesAsOpenCv) {
    struct Case {
        int srcW, srcH, channels, dstW, dstH;
    };
    const Case cases[] = {
        {240, 160, 3, 640, 480},                           // the top view into its control
        {240, 160, 1, 640, 480}, {240, 160, 3, 480, 320},  // exactly twice
        {7, 5, 3, 31, 17},                                 // odd ratios, edges on both sides
        {1, 1, 3, 9, 4},         {100, 80, 4, 101, 80},    // one side kept
        {3, 200, 1, 640, 481},
    };
    cv::RNG random(12345);
    BilinearStretch stretch;  // one object across sizes: its tables follow
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            cv::Mat src(c.srcH, c.srcW, CV_8UC(c.channels));
            random.fill(src, cv::RNG::UNIFORM, 0, 256);
            if (round == 2) src.setTo(cv::Scalar::all(255));  // the top of the range
            const cv::Size size(c.dstW, c.dstH);
            ASSERT_TRUE(BilinearStretch::handles(src, size));
            cv::Mat expected, got;
            cv::resize(src, expected, size, 0, 0, cv::INTER_LINEAR);
            stretch.apply(src, got, size);
            ASSERT_EQ(got.size(), expected.size());
            EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0)
                << c.srcW << "x" << c.srcH << "x" << c.channels << " -> " << c.dstW << "x"
                << c.dstH;
        }
    }
}

// Both layouts on every instruction set this processor has, each against
// OpenCV: cv::resize, and cv::resize then cv::cvtColor for the 4-byte layout.
TEST(BilinearStretch, EveryPathAndLayoutGivesOpenCvBytes) {
    struct Case {
        int srcW, srcH, channels, dstW, dstH;
    };
    const Case
        cases[] =
            {
                {240, 160, 3, 640, 480},  // the live view: copied, mirrored and single rows
                {240, 160, 1, 640, 480}, {240, 160, 3, 480, 320}, {7, 5, 3, 31, 17},
                {1, 1, 3, 9, 4},         {100, 80, 4, 101, 80},   {3, 200, 1, 640, 481},
                {20, 9, 3, 45, 26},  // rows that end inside a vector group
                {6, 4, 3, 7, 9},     // rows of 18 and 21 values: windows pushed back from the end
            };
    enum class Fill { Random, White, Extremes };
    const BilinearStretch::Instructions levels[] = {BilinearStretch::Instructions::Portable,
                                                    BilinearStretch::Instructions::Ssse3,
                                                    BilinearStretch::Instructions::Avx2};
    for (const auto level : levels) {
        if (level > BilinearStretch::available()) {
            ADD_FAILURE() << "not checked here: instruction level " << static_cast<int>(level);
            continue;
        }
        BilinearStretch stretch;  // one object across sizes and layouts: its tables follow
        stretch.limitInstructions(level);
        ASSERT_EQ(stretch.instructions(), level);
        cv::RNG random(12345);
        cv::Mat got;  // kept from one call to the next: reallocated when the layout changes
        for (const Case& c : cases) {
            for (const Fill fill : {Fill::Random, Fill::White, Fill::Extremes}) {
                // A window into a larger picture, so rows do not follow on.
                cv::Mat whole(c.srcH + 2, c.srcW + 3, CV_8UC(c.channels));
                random.fill(whole, cv::RNG::UNIFORM, 0, 256);
                if (fill == Fill::White) whole.setTo(cv::Scalar::all(255));
                if (fill == Fill::Extremes)
                    cv::threshold(whole, whole, 127, 255, cv::THRESH_BINARY);
                const cv::Mat src = whole(cv::Rect(2, 1, c.srcW, c.srcH));
                const cv::Size size(c.dstW, c.dstH);
                const std::string what = std::to_string(c.srcW) + "x" + std::to_string(c.srcH) +
                                         "x" + std::to_string(c.channels) + " -> " +
                                         std::to_string(c.dstW) + "x" + std::to_string(c.dstH) +
                                         ", level " + std::to_string(static_cast<int>(level)) +
                                         ", fill " + std::to_string(static_cast<int>(fill));
                ASSERT_TRUE(BilinearStretch::handles(src, size)) << what;
                cv::Mat expected;
                cv::resize(src, expected, size, 0, 0, cv::INTER_LINEAR);
                stretch.apply(src, got, size);
                ASSERT_EQ(got.type(), expected.type()) << what;
                ASSERT_EQ(got.size(), expected.size()) << what;
                EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0) << what;

                if (c.channels != 3) continue;
                ASSERT_TRUE(BilinearStretch::handlesBgrx(src, size)) << what;
                cv::cvtColor(expected, expected, cv::COLOR_BGR2BGRA);
                stretch.applyToBgrx(src, got, size);
                ASSERT_EQ(got.type(), CV_8UC4) << what;
                ASSERT_EQ(got.size(), expected.size()) << what;
                EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0) << what << ", 4 bytes a pixel";
            }
        }
    }
}

TEST(BilinearStretch, LeavesShrinkingAndOtherDepthsToOpenCv) {
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(480, 640, CV_8UC3), cv::Size(320, 240)));
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(160, 240, CV_32FC1), cv::Size(640, 480)));
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(160, 240, CV_8UC3), cv::Size(240, 160)));
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(), cv::Size(10, 10)));
    // The 4-byte layout is made from 3-channel pictures only.
    EXPECT_TRUE(BilinearStretch::handlesBgrx(cv::Mat(160, 240, CV_8UC3), cv::Size(640, 480)));
    EXPECT_FALSE(BilinearStretch::handlesBgrx(cv::Mat(160, 240, CV_8UC1), cv::Size(640, 480)));
    EXPECT_FALSE(BilinearStretch::handlesBgrx(cv::Mat(160, 240, CV_8UC4), cv::Size(640, 480)));
    EXPECT_FALSE(BilinearStretch::handlesBgrx(cv::Mat(480, 640, CV_8UC3), cv::Size(320, 240)));
    // Asked anyway, it refuses rather than writing a picture of the wrong layout.
    BilinearStretch stretch;
    cv::Mat dst;
    EXPECT_THROW(stretch.applyToBgrx(cv::Mat(160, 240, CV_8UC1, cv::Scalar(7)), dst, {640, 480}),
                 cv::Exception);
}

}  // namespace
