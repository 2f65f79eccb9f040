// The live view's stretch must give exactly the bytes of cv::resize
// (INTER_LINEAR), for the picture sizes the tool draws and for odd ones.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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

TEST(BilinearStretch, LeavesShrinkingAndOtherDepthsToOpenCv) {
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(480, 640, CV_8UC3), cv::Size(320, 240)));
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(160, 240, CV_32FC1), cv::Size(640, 480)));
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(160, 240, CV_8UC3), cv::Size(240, 160)));
    EXPECT_FALSE(BilinearStretch::handles(cv::Mat(), cv::Size(10, 10)));
}

}  // namespace
