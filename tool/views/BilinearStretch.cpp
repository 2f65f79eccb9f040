#include "views/BilinearStretch.h"

#include <algorithm>
#include <cmath>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEST_STRETCH_VECTORS 1
#endif

namespace {

// Weights in fixed point: 1.0 is 2048, as OpenCV's resize has them.
constexpr int kCoefBits = 11;
constexpr float kCoefScale = 1 << kCoefBits;
constexpr int kGroup = 4;         // output values a vector group makes
constexpr int kWindowBytes = 16;  // source bytes a vector group may reach

// Rounded to nearest, halves to even, as OpenCV's saturate_cast rounds.
int16_t weight(float w) {
    return static_cast<int16_t>(std::lrint(w * kCoefScale));
}

#if defined(KEST_STRETCH_VECTORS)
bool haveShuffles() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

// Four output values of every vector group: the window's bytes shuffled into
// (left, right) pairs, multiplied by their weights and summed, scaled down by
// 16 and packed. Returns how many output values it made.
__attribute__((target("ssse3"))) int horizontalGroups(const uint8_t* row, int groups,
                                                      const int32_t* start, const uint8_t* shuffle,
                                                      const int16_t* weights, int16_t* out) {
    int g = 0;
    for (; g + 2 <= groups; g += 2) {
        __m128i sums[2];
        for (int k = 0; k < 2; ++k) {
            const __m128i window =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + start[g + k]));
            const __m128i pairs = _mm_shuffle_epi8(
                window, _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle + (g + k) * 16)));
            sums[k] = _mm_srai_epi32(
                _mm_madd_epi16(pairs, _mm_loadu_si128(
                                          reinterpret_cast<const __m128i*>(weights + (g + k) * 8))),
                4);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + g * kGroup),
                         _mm_packs_epi32(sums[0], sums[1]));
    }
    return g * kGroup;
}
#endif

}  // namespace

bool BilinearStretch::handles(const cv::Mat& src, cv::Size dstSize) {
    return src.depth() == CV_8U && src.channels() >= 1 && src.channels() <= 4 && !src.empty() &&
           dstSize.width >= src.cols && dstSize.height >= src.rows &&
           dstSize != cv::Size(src.cols, src.rows);
}

void BilinearStretch::prepare(cv::Size srcSize, cv::Size dstSize, int channels) {
    if (srcSize == m_src && dstSize == m_dst && channels == m_channels) return;
    m_src = srcSize;
    m_dst = dstSize;
    m_channels = channels;
    const int cn = channels;
    // The scale as OpenCV computes it: the inverse of the inverse, in double.
    const double scaleX = 1.0 / (static_cast<double>(dstSize.width) / srcSize.width);
    const double scaleY = 1.0 / (static_cast<double>(dstSize.height) / srcSize.height);

    m_xofs.assign(static_cast<size_t>(dstSize.width) * cn, 0);
    m_alpha.assign(static_cast<size_t>(dstSize.width) * cn * 2, 0);
    int xmax = dstSize.width;
    for (int dx = 0; dx < dstSize.width; ++dx) {
        float fx = static_cast<float>((dx + 0.5) * scaleX - 0.5);
        int sx = static_cast<int>(std::floor(fx));
        fx -= static_cast<float>(sx);
        if (sx < 0) fx = 0, sx = 0;
        if (sx + 1 >= srcSize.width) {
            xmax = std::min(xmax, dx);
            if (sx >= srcSize.width - 1) fx = 0, sx = srcSize.width - 1;
        }
        for (int k = 0; k < cn; ++k) {
            const size_t at = static_cast<size_t>(dx) * cn + k;
            m_xofs[at] = sx * cn + k;
            m_alpha[at * 2] = weight(1.0f - fx);
            m_alpha[at * 2 + 1] = weight(fx);
        }
    }
    m_xmax = xmax * cn;

    // Vector groups, from the start of the row for as long as each group's
    // neighbours fit one window that lies inside the row.
    const int rowBytes = srcSize.width * cn;
    m_vectorGroups = 0;
    m_groupStart.clear();
    m_groupShuffle.clear();
    m_groupWeights.clear();
    for (int j = 0; j + kGroup <= m_xmax; j += kGroup) {
        // Channels of neighbouring pixels share a group, so its first value
        // need not have the leftmost neighbour.
        const int start = *std::min_element(m_xofs.begin() + j, m_xofs.begin() + j + kGroup);
        bool fits = start + kWindowBytes <= rowBytes;
        for (int m = 0; m < kGroup && fits; ++m) fits = m_xofs[j + m] + cn - start < kWindowBytes;
        if (!fits) break;
        m_groupStart.push_back(start);
        for (int m = 0; m < kGroup; ++m) {
            // Lanes of 16 bits: (left, 0) then (right, 0); 0x80 gives a zero byte.
            m_groupShuffle.push_back(static_cast<uint8_t>(m_xofs[j + m] - start));
            m_groupShuffle.push_back(0x80);
            m_groupShuffle.push_back(static_cast<uint8_t>(m_xofs[j + m] + cn - start));
            m_groupShuffle.push_back(0x80);
            m_groupWeights.push_back(m_alpha[(j + m) * 2]);
            m_groupWeights.push_back(m_alpha[(j + m) * 2 + 1]);
        }
        ++m_vectorGroups;
    }

    m_yofs.assign(dstSize.height, 0);
    m_beta.assign(static_cast<size_t>(dstSize.height) * 2, 0);
    for (int dy = 0; dy < dstSize.height; ++dy) {
        float fy = static_cast<float>((dy + 0.5) * scaleY - 0.5);
        const int sy = static_cast<int>(std::floor(fy));
        fy -= static_cast<float>(sy);
        m_yofs[dy] = sy;
        m_beta[dy * 2] = weight(1.0f - fy);
        m_beta[dy * 2 + 1] = weight(fy);
    }
    for (auto& row : m_rows) row.assign(static_cast<size_t>(dstSize.width) * cn, 0);
}

void BilinearStretch::horizontal(const uint8_t* row, int16_t* out) const {
    const int cn = m_channels;
    const int width = m_dst.width * cn;
    int dx = 0;
#if defined(KEST_STRETCH_VECTORS)
    if (haveShuffles())
        dx = horizontalGroups(row, m_vectorGroups, m_groupStart.data(), m_groupShuffle.data(),
                              m_groupWeights.data(), out);
#endif
    for (; dx < m_xmax; ++dx) {
        const int sx = m_xofs[dx];
        out[dx] = static_cast<int16_t>(
            (row[sx] * m_alpha[dx * 2] + row[sx + cn] * m_alpha[dx * 2 + 1]) >> 4);
    }
    for (; dx < width; ++dx) out[dx] = static_cast<int16_t>((row[m_xofs[dx]] << kCoefBits) >> 4);
}

void BilinearStretch::apply(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize) {
    prepare(src.size(), dstSize, src.channels());
    dst.create(dstSize, src.type());
    m_rowOf[0] = m_rowOf[1] = -1;
    const int width = dstSize.width * m_channels;
    for (int dy = 0; dy < dstSize.height; ++dy) {
        // The two source rows, clamped to the picture, each stretched once
        // and kept while the next output rows still need it.
        const int upper = std::clamp(m_yofs[dy], 0, src.rows - 1);
        const int lower = std::clamp(m_yofs[dy] + 1, 0, src.rows - 1);
        auto slotOf = [this](int row) {
            return m_rowOf[0] == row ? 0 : m_rowOf[1] == row ? 1 : -1;
        };
        auto fill = [&](int slot, int row) {
            horizontal(src.ptr<uint8_t>(row), m_rows[slot].data());
            m_rowOf[slot] = row;
        };
        int upperSlot = slotOf(upper);
        if (upperSlot < 0) fill(upperSlot = slotOf(lower) == 0 ? 1 : 0, upper);
        int lowerSlot = slotOf(lower);
        if (lowerSlot < 0) fill(lowerSlot = upperSlot ^ 1, lower);
        const int16_t* s0 = m_rows[upperSlot].data();
        const int16_t* s1 = m_rows[lowerSlot].data();

        // The vertical blend as OpenCV's vector code does it: each scaled sum
        // multiplied by its weight keeping the high 16 bits, then rounded by
        // the last 2 bits.
        const int16_t b0 = m_beta[dy * 2];
        const int16_t b1 = m_beta[dy * 2 + 1];
        uint8_t* out = dst.ptr<uint8_t>(dy);
        int x = 0;
#if defined(KEST_STRETCH_VECTORS)
        const __m128i beta0 = _mm_set1_epi16(b0);
        const __m128i beta1 = _mm_set1_epi16(b1);
        const __m128i two = _mm_set1_epi16(2);
        auto blend8 = [&](int at) {
            const __m128i upperValues = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + at));
            const __m128i lowerValues = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + at));
            const __m128i sum = _mm_add_epi16(_mm_mulhi_epi16(upperValues, beta0),
                                              _mm_mulhi_epi16(lowerValues, beta1));
            return _mm_srai_epi16(_mm_add_epi16(sum, two), 2);
        };
        for (; x + 16 <= width; x += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                             _mm_packus_epi16(blend8(x), blend8(x + 8)));
#endif
        for (; x < width; ++x) {
            const int v = ((s0[x] * b0) >> 16) + ((s1[x] * b1) >> 16);
            out[x] = static_cast<uint8_t>(std::clamp((v + 2) >> 2, 0, 255));
        }
    }
}
