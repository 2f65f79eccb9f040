// Bilinear enlargement of an 8-bit picture to a control's size, giving
// exactly the bytes of OpenCV's cv::resize with INTER_LINEAR (the same
// fixed-point weights, the same rounding as its vector code), in less time
// for the small pictures of the live view. The tables are made once per pair
// of sizes.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <vector>

class BilinearStretch {
public:
    // True when this class reproduces cv::resize for the pair: 8-bit, 1 to 4
    // channels, enlarging (or keeping) both sides but not both equal.
    static bool handles(const cv::Mat& src, cv::Size dstSize);

    // Stretches src into dst (allocated when its size or type differ).
    void apply(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize);

private:
    void prepare(cv::Size srcSize, cv::Size dstSize, int channels);
    // One source row stretched across: each value is the weighted sum of its
    // two neighbours, kept scaled down by 16 as the vertical blend takes it.
    void horizontal(const uint8_t* row, int16_t* out) const;

    cv::Size m_src, m_dst;
    int m_channels = 0;
    std::vector<int32_t> m_xofs;   // per output value: source index of its left neighbour
    std::vector<int16_t> m_alpha;  // per output value: weights of left and right neighbour
    int m_xmax = 0;                // output values from here on take one source value
    std::vector<int32_t> m_yofs;   // per output row: upper source row (may be -1)
    std::vector<int16_t> m_beta;   // per output row: weights of upper and lower row
    // Groups of four output values whose neighbours lie in one 16-byte window
    // of the source row: window start, byte shuffle and weights of each.
    int m_vectorGroups = 0;
    std::vector<int32_t> m_groupStart;
    std::vector<uint8_t> m_groupShuffle;  // 16 a group
    std::vector<int16_t> m_groupWeights;  // 8 a group
    std::vector<int16_t> m_rows[2];
    int m_rowOf[2] = {-1, -1};  // which source row each row buffer holds
};
