// Bilinear enlargement of an 8-bit picture to a control's size, giving
// exactly the bytes of OpenCV's cv::resize with INTER_LINEAR (the same
// fixed-point weights, the same rounding as its vector code), in less time
// for the small pictures of the live view. The tables are made once per pair
// of sizes.
//
// Besides the picture's own layout it can write a 3-channel picture straight
// as 4 bytes a pixel (blue, green, red, 255: what a 32-bit screen format
// holds in memory on a little-endian machine), the bytes of cv::resize
// followed by cv::cvtColor(BGR2BGRA) in one pass.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <vector>

class BilinearStretch {
public:
    // The instruction sets the stretch has code for, from the plainest up.
    enum class Instructions { Portable, Ssse3, Avx2 };

    // True when this class reproduces cv::resize for the pair: 8-bit, 1 to 4
    // channels, enlarging (or keeping) both sides but not both equal.
    static bool handles(const cv::Mat& src, cv::Size dstSize);
    // The same for the 4-byte layout, which takes 3-channel pictures only.
    static bool handlesBgrx(const cv::Mat& src, cv::Size dstSize);

    // Stretches src into dst (allocated when its size or type differ).
    void apply(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize);
    // Stretches a 3-channel src into a CV_8UC4 dst: blue, green, red, 255.
    void applyToBgrx(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize);

    // The best this processor offers; the stretch uses it unless limited.
    static Instructions available();
    // For tests: use nothing beyond `most`, so every fallback can be checked
    // on a processor that has more.
    void limitInstructions(Instructions most);
    // What the stretch actually uses here, within the limit.
    Instructions instructions() const;

private:
    void run(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize, int outChannels);
    void prepare(cv::Size srcSize, cv::Size dstSize, int channels, int outChannels);
    // One source row stretched across: each value is the weighted sum of its
    // two neighbours, kept scaled down by 16 as the vertical blend takes it.
    void horizontal(const uint8_t* row, int16_t* out) const;
    // Makes sure the two row buffers hold the stretched rows `upper` and
    // `lower`; returns them in that order.
    void rowsFor(const cv::Mat& src, int upper, int lower, const int16_t*& s0, const int16_t*& s1);

    Instructions m_limit = Instructions::Avx2;
    cv::Size m_src, m_dst;
    int m_channels = 0;
    int m_outChannels = 0;
    int m_width = 0;  // values in an output row

    // Per output value: source bytes of its left and right neighbour and their
    // weights (2048 in all); a filler value (the 255 of the 4-byte layout) has
    // left < 0.
    struct Tap {
        int32_t left, right;
        int16_t weightLeft, weightRight;
    };
    std::vector<Tap> m_taps;
    // Groups of eight output values whose neighbours lie in one 16-byte window
    // of the source row: window start, where the eight go, the byte shuffle
    // making (left, right) pairs and the weights split into high and low parts
    // (16 x high + low) so that each fits a signed byte.
    int m_groups = 0;
    std::vector<int32_t> m_groupStart, m_groupOut;
    std::vector<uint8_t> m_groupShuffle;  // 16 a group
    std::vector<int8_t> m_groupHigh;      // 16 a group
    std::vector<int8_t> m_groupLow;       // 16 a group
    std::vector<int32_t> m_loose;         // output values no group makes
    bool m_highOnly = false;              // all low weights are 0

    std::vector<int32_t> m_yofs;  // per output row: upper source row (may be -1)
    std::vector<int16_t> m_beta;  // per output row: weights of upper and lower row
    std::vector<int16_t> m_rows[2];
    int m_rowOf[2] = {-1, -1};  // which source row each row buffer holds
};
