#include "views/BilinearStretch.h"

#include <algorithm>
#include <cmath>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEST_STRETCH_VECTORS 1
#endif

// How the bytes come out the same as cv::resize:
//  - horizontally each value is (left * wl + right * wr) >> 4 with weights in
//    fixed point (1.0 is 2048); the vector code splits each weight into
//    16 x high + low so that both parts fit the signed bytes of a byte
//    multiply-add: (16 A + B) >> 4 is A + (B >> 4) exactly, B being >= 0;
//  - vertically each output is (hi16(s0 * b0) + hi16(s1 * b1) + 2) >> 2, the
//    high halves of 16-bit products as OpenCV's vector code takes them. The
//    final rounding shift is a rounding multiply-high by 8192, one
//    instruction for two. A row that falls exactly on a source row (b0 is
//    2048, b1 is 0, every third row when the picture triples in height) is
//    (s0 + 64) >> 7, a rounding multiply-high by 256 with no blend; two rows
//    between the same source rows with mirrored weights (1/3 and 2/3 of the
//    way) share their four products.

namespace {

using Instructions = BilinearStretch::Instructions;

// Weights in fixed point: 1.0 is 2048, as OpenCV's resize has them.
constexpr int kCoefBits = 11;
constexpr int kOne = 1 << kCoefBits;
constexpr float kCoefScale = kOne;
constexpr int kGroup = 8;         // output values a vector group makes
constexpr int kWindowBytes = 16;  // source bytes a vector group may reach
// A channel of 255 after the horizontal pass: 255 << 11 >> 4. The filler of
// the 4-byte layout takes it, so that every blend of it gives 255 again.
constexpr int16_t kFiller = 255 << (kCoefBits - 4);

// Rounded to nearest, halves to even, as OpenCV's saturate_cast rounds.
int16_t weight(float w) {
    return static_cast<int16_t>(std::lrint(w * kCoefScale));
}

uint8_t blendValue(int s0, int s1, int b0, int b1) {
    const int v = ((s0 * b0) >> 16) + ((s1 * b1) >> 16);
    return static_cast<uint8_t>(std::clamp((v + 2) >> 2, 0, 255));
}

// The vertical pass, portable, from value `from` on.
void blendRow(const int16_t* s0, const int16_t* s1, int b0, int b1, uint8_t* out, int from,
              int width) {
    for (int x = from; x < width; ++x) out[x] = blendValue(s0[x], s1[x], b0, b1);
}

void copyRow(const int16_t* s0, uint8_t* out, int from, int width) {
    for (int x = from; x < width; ++x)
        out[x] = static_cast<uint8_t>(std::clamp((s0[x] + 64) >> 7, 0, 255));
}

#if defined(KEST_STRETCH_VECTORS)

// Each vertical kernel does what whole vectors cover and returns where it
// stopped; the next narrower one goes on from there and the portable loops
// finish the row. (An AVX2 kernel does not call the SSSE3 one itself: the
// legacy-encoded instructions right after 256-bit ones would stall.)

__attribute__((target("ssse3"))) int blendRowSsse3(const int16_t* s0, const int16_t* s1, int b0,
                                                   int b1, uint8_t* out, int width) {
    const __m128i beta0 = _mm_set1_epi16(static_cast<int16_t>(b0));
    const __m128i beta1 = _mm_set1_epi16(static_cast<int16_t>(b1));
    const __m128i round = _mm_set1_epi16(8192);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i r[2];
        for (int k = 0; k < 2; ++k) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + x + 8 * k));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + x + 8 * k));
            r[k] = _mm_mulhrs_epi16(
                _mm_add_epi16(_mm_mulhi_epi16(u, beta0), _mm_mulhi_epi16(l, beta1)), round);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(r[0], r[1]));
    }
    return x;
}

__attribute__((target("ssse3"))) int blendPairSsse3(const int16_t* s0, const int16_t* s1, int b0,
                                                    int b1, uint8_t* outA, uint8_t* outB,
                                                    int width) {
    const __m128i beta0 = _mm_set1_epi16(static_cast<int16_t>(b0));
    const __m128i beta1 = _mm_set1_epi16(static_cast<int16_t>(b1));
    const __m128i round = _mm_set1_epi16(8192);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i a[2], b[2];
        for (int k = 0; k < 2; ++k) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + x + 8 * k));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + x + 8 * k));
            // Row A weighs (b0, b1), row B the mirror (b1, b0).
            a[k] = _mm_mulhrs_epi16(
                _mm_add_epi16(_mm_mulhi_epi16(u, beta0), _mm_mulhi_epi16(l, beta1)), round);
            b[k] = _mm_mulhrs_epi16(
                _mm_add_epi16(_mm_mulhi_epi16(u, beta1), _mm_mulhi_epi16(l, beta0)), round);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outA + x), _mm_packus_epi16(a[0], a[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outB + x), _mm_packus_epi16(b[0], b[1]));
    }
    return x;
}

__attribute__((target("ssse3"))) int copyRowSsse3(const int16_t* s0, uint8_t* out, int width) {
    const __m128i round = _mm_set1_epi16(256);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + x + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi16(_mm_mulhrs_epi16(a, round), _mm_mulhrs_epi16(b, round)));
    }
    return x;
}

__attribute__((target("avx2"))) inline __m256i load32(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// 32 values of two 16-lane halves packed to bytes in order (the pack works
// within 128-bit lanes, the permute puts the quarters back in place). The
// picture is read next by another thread, often on another core, and is too
// large to stay in this core's cache: aligned stores go straight to memory
// instead of reading each line in first (see run() for the fence).
__attribute__((target("avx2"))) inline void store32(uint8_t* out, __m256i lo, __m256i hi) {
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
    if ((reinterpret_cast<uintptr_t>(out) & 31) == 0)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out), bytes);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
}

__attribute__((target("avx2"))) int blendRowAvx2(const int16_t* s0, const int16_t* s1, int b0,
                                                 int b1, uint8_t* out, int width) {
    const __m256i beta0 = _mm256_set1_epi16(static_cast<int16_t>(b0));
    const __m256i beta1 = _mm256_set1_epi16(static_cast<int16_t>(b1));
    const __m256i round = _mm256_set1_epi16(8192);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i r[2];
        for (int k = 0; k < 2; ++k) {
            const __m256i u = load32(s0 + x + 16 * k);
            const __m256i l = load32(s1 + x + 16 * k);
            r[k] = _mm256_mulhrs_epi16(
                _mm256_add_epi16(_mm256_mulhi_epi16(u, beta0), _mm256_mulhi_epi16(l, beta1)),
                round);
        }
        store32(out + x, r[0], r[1]);
    }
    return x;
}

__attribute__((target("avx2"))) int blendPairAvx2(const int16_t* s0, const int16_t* s1, int b0,
                                                  int b1, uint8_t* outA, uint8_t* outB, int width) {
    const __m256i beta0 = _mm256_set1_epi16(static_cast<int16_t>(b0));
    const __m256i beta1 = _mm256_set1_epi16(static_cast<int16_t>(b1));
    const __m256i round = _mm256_set1_epi16(8192);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i a[2], b[2];
        for (int k = 0; k < 2; ++k) {
            const __m256i u = load32(s0 + x + 16 * k);
            const __m256i l = load32(s1 + x + 16 * k);
            a[k] = _mm256_mulhrs_epi16(
                _mm256_add_epi16(_mm256_mulhi_epi16(u, beta0), _mm256_mulhi_epi16(l, beta1)),
                round);
            b[k] = _mm256_mulhrs_epi16(
                _mm256_add_epi16(_mm256_mulhi_epi16(u, beta1), _mm256_mulhi_epi16(l, beta0)),
                round);
        }
        store32(outA + x, a[0], a[1]);
        store32(outB + x, b[0], b[1]);
    }
    return x;
}

__attribute__((target("avx2"))) int copyRowAvx2(const int16_t* s0, uint8_t* out, int width) {
    const __m256i round = _mm256_set1_epi16(256);
    int x = 0;
    for (; x + 32 <= width; x += 32)
        store32(out + x, _mm256_mulhrs_epi16(load32(s0 + x), round),
                _mm256_mulhrs_epi16(load32(s0 + x + 16), round));
    return x;
}

// The horizontal pass over the vector groups: the window's bytes shuffled
// into (left, right) pairs, multiplied by the high and the low weights and
// added, the low sum scaled down by 16 first.
struct Groups {
    int count;
    const int32_t* start;
    const int32_t* out;
    const uint8_t* shuffle;
    const int8_t* high;
    const int8_t* low;
};

template <bool Filler, bool HighOnly>
__attribute__((target("ssse3"))) void groupsSsse3(const uint8_t* row, const Groups& g, int from,
                                                  int16_t* out) {
    // Copied out: the stores could alias the tables' pointers otherwise.
    const int32_t* const start = g.start;
    const int32_t* const at = g.out;
    const uint8_t* const shuffle = g.shuffle;
    const int8_t* const highWeights = g.high;
    const int8_t* const lowWeights = g.low;
    const int count = g.count;
    const __m128i filler = _mm_setr_epi16(0, 0, 0, kFiller, 0, 0, 0, kFiller);
    for (int i = from; i < count; ++i) {
        const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + start[i]));
        const __m128i pairs = _mm_shuffle_epi8(
            window, _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle + i * 16)));
        const __m128i high = _mm_maddubs_epi16(
            pairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(highWeights + i * 16)));
        __m128i v = high;
        if (!HighOnly) {
            const __m128i low = _mm_maddubs_epi16(
                pairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lowWeights + i * 16)));
            v = _mm_add_epi16(high, _mm_srli_epi16(low, 4));
        }
        if (Filler) v = _mm_or_si128(v, filler);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at[i]), v);
    }
}

template <bool Filler, bool HighOnly>
__attribute__((target("avx2"))) int groupsAvx2(const uint8_t* row, const Groups& g, int16_t* out) {
    // Copied out: the stores could alias the tables' pointers otherwise.
    const int32_t* const start = g.start;
    const int32_t* const at = g.out;
    const uint8_t* const shuffle = g.shuffle;
    const int8_t* const highWeights = g.high;
    const int8_t* const lowWeights = g.low;
    const int count = g.count;
    const __m256i filler =
        _mm256_setr_epi16(0, 0, 0, kFiller, 0, 0, 0, kFiller, 0, 0, 0, kFiller, 0, 0, 0, kFiller);
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        // Two groups side by side, one in each 128-bit lane.
        const __m256i window = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + start[i]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + start[i + 1])), 1);
        const __m256i pairs = _mm256_shuffle_epi8(
            window, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shuffle + i * 16)));
        const __m256i high = _mm256_maddubs_epi16(
            pairs, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(highWeights + i * 16)));
        __m256i v = high;
        if (!HighOnly) {
            const __m256i low = _mm256_maddubs_epi16(
                pairs, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lowWeights + i * 16)));
            v = _mm256_add_epi16(high, _mm256_srli_epi16(low, 4));
        }
        if (Filler) v = _mm256_or_si256(v, filler);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at[i]), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at[i + 1]),
                         _mm256_extracti128_si256(v, 1));
    }
    return i;
}

template <bool Filler, bool HighOnly>
void groupsAt(Instructions level, const uint8_t* row, const Groups& g, int16_t* out) {
    const int from = level == Instructions::Avx2 ? groupsAvx2<Filler, HighOnly>(row, g, out) : 0;
    groupsSsse3<Filler, HighOnly>(row, g, from, out);
}

bool cpuHas(Instructions level) {
    static const Instructions best = __builtin_cpu_supports("avx2")    ? Instructions::Avx2
                                     : __builtin_cpu_supports("ssse3") ? Instructions::Ssse3
                                                                       : Instructions::Portable;
    return level <= best;
}
#else
bool cpuHas(Instructions level) {
    return level == Instructions::Portable;
}
#endif

}  // namespace

bool BilinearStretch::handles(const cv::Mat& src, cv::Size dstSize) {
    return src.depth() == CV_8U && src.channels() >= 1 && src.channels() <= 4 && !src.empty() &&
           dstSize.width >= src.cols && dstSize.height >= src.rows &&
           dstSize != cv::Size(src.cols, src.rows);
}

bool BilinearStretch::handlesBgrx(const cv::Mat& src, cv::Size dstSize) {
    return src.channels() == 3 && handles(src, dstSize);
}

BilinearStretch::Instructions BilinearStretch::available() {
    for (Instructions level : {Instructions::Avx2, Instructions::Ssse3})
        if (cpuHas(level)) return level;
    return Instructions::Portable;
}

void BilinearStretch::limitInstructions(Instructions most) {
    m_limit = most;
}

BilinearStretch::Instructions BilinearStretch::instructions() const {
    return std::min(m_limit, available());
}

void BilinearStretch::prepare(cv::Size srcSize, cv::Size dstSize, int channels, int outChannels) {
    if (srcSize == m_src && dstSize == m_dst && channels == m_channels &&
        outChannels == m_outChannels)
        return;
    m_src = srcSize;
    m_dst = dstSize;
    m_channels = channels;
    m_outChannels = outChannels;
    const int cn = channels;
    const int ocn = outChannels;
    m_width = dstSize.width * ocn;
    // The scale as OpenCV computes it: the inverse of the inverse, in double.
    const double scaleX = 1.0 / (static_cast<double>(dstSize.width) / srcSize.width);
    const double scaleY = 1.0 / (static_cast<double>(dstSize.height) / srcSize.height);

    // Output values from the first pixel whose right neighbour falls off the
    // picture take their left neighbour alone (weights 2048 and 0).
    m_taps.assign(m_width, Tap{-1, -1, 0, 0});
    for (int dx = 0; dx < dstSize.width; ++dx) {
        float fx = static_cast<float>((dx + 0.5) * scaleX - 0.5);
        int sx = static_cast<int>(std::floor(fx));
        fx -= static_cast<float>(sx);
        if (sx < 0) fx = 0, sx = 0;
        const bool edge = sx + 1 >= srcSize.width;
        if (edge) fx = 0, sx = srcSize.width - 1;
        for (int k = 0; k < cn; ++k) {
            Tap& t = m_taps[static_cast<size_t>(dx) * ocn + k];
            t.left = sx * cn + k;
            t.right = edge ? t.left : t.left + cn;
            t.weightLeft = edge ? kOne : weight(1.0f - fx);
            t.weightRight = edge ? 0 : weight(fx);
        }
    }

    // Vector groups: eight output values at a time, the last group moved back
    // to end with the row; the window moved left where the row ends before it.
    const int rowBytes = srcSize.width * cn;
    m_groups = 0;
    m_groupStart.clear();
    m_groupOut.clear();
    m_groupShuffle.clear();
    m_groupHigh.clear();
    m_groupLow.clear();
    m_loose.clear();
    std::vector<int> firsts;
    for (int j = 0; j + kGroup <= m_width; j += kGroup) firsts.push_back(j);
    if (m_width % kGroup != 0 && m_width >= kGroup) firsts.push_back(m_width - kGroup);
    if (m_width < kGroup)
        for (int j = 0; j < m_width; ++j) m_loose.push_back(j);
    for (int j : firsts) {
        int lo = rowBytes, hi = -1;
        bool weightsFit = true;
        for (int m = 0; m < kGroup; ++m) {
            const Tap& t = m_taps[j + m];
            if (t.left < 0) continue;
            lo = std::min(lo, t.left);
            hi = std::max(hi, t.right);
            weightsFit = weightsFit && t.weightLeft >= 0 && t.weightLeft <= kOne &&
                         t.weightRight >= 0 && t.weightRight <= kOne;
        }
        const int start = std::min(lo, rowBytes - kWindowBytes);
        if (!weightsFit || start < 0 || hi - start >= kWindowBytes) {
            // Made one by one (a value may come twice, with the same result).
            for (int m = 0; m < kGroup; ++m) m_loose.push_back(j + m);
            continue;
        }
        m_groupStart.push_back(start);
        m_groupOut.push_back(j);
        for (int m = 0; m < kGroup; ++m) {
            const Tap& t = m_taps[j + m];
            if (t.left < 0) {
                // 0x80 gives a zero byte: the filler lanes come out 0 and
                // take kFiller afterwards.
                m_groupShuffle.insert(m_groupShuffle.end(), {0x80, 0x80});
                m_groupHigh.insert(m_groupHigh.end(), {0, 0});
                m_groupLow.insert(m_groupLow.end(), {0, 0});
                continue;
            }
            if (t.weightRight == 0 && t.weightLeft == kOne) {
                // 2048 x left is 64 x left twice: high weights alone, which
                // 2048 is not (128 does not fit a signed byte).
                m_groupShuffle.insert(m_groupShuffle.end(), 2,
                                      static_cast<uint8_t>(t.left - start));
                m_groupHigh.insert(m_groupHigh.end(), {64, 64});
                m_groupLow.insert(m_groupLow.end(), {0, 0});
                continue;
            }
            m_groupShuffle.push_back(static_cast<uint8_t>(t.left - start));
            m_groupShuffle.push_back(static_cast<uint8_t>(t.right - start));
            for (int w : {t.weightLeft, t.weightRight}) {
                const int high = std::min(w >> 4, 127);
                m_groupHigh.push_back(static_cast<int8_t>(high));
                m_groupLow.push_back(static_cast<int8_t>(w - 16 * high));
            }
        }
        ++m_groups;
    }
    // Weights in sixteenths of a pixel (any ratio of 8 / 3 or 2, say) leave
    // the low parts all 0: one multiply-add instead of two.
    m_highOnly = std::all_of(m_groupLow.begin(), m_groupLow.end(), [](int8_t w) { return w == 0; });

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
    for (auto& row : m_rows) row.assign(static_cast<size_t>(m_width), 0);
}

void BilinearStretch::horizontal(const uint8_t* row, int16_t* out) const {
    auto tapValue = [&](int i) {
        const Tap& t = m_taps[i];
        return t.left < 0 ? kFiller
                          : static_cast<int16_t>(
                                (row[t.left] * t.weightLeft + row[t.right] * t.weightRight) >> 4);
    };
    const Instructions level = instructions();
    if (level == Instructions::Portable) {
        for (int i = 0; i < m_width; ++i) out[i] = tapValue(i);
        return;
    }
#if defined(KEST_STRETCH_VECTORS)
    const Groups g{m_groups,           m_groupStart.data(),
                   m_groupOut.data(),  m_groupShuffle.data(),
                   m_groupHigh.data(), m_groupLow.data()};
    const bool filler = m_outChannels != m_channels;
    if (filler)
        m_highOnly ? groupsAt<true, true>(level, row, g, out)
                   : groupsAt<true, false>(level, row, g, out);
    else
        m_highOnly ? groupsAt<false, true>(level, row, g, out)
                   : groupsAt<false, false>(level, row, g, out);
#endif
    for (int i : m_loose) out[i] = tapValue(i);
}

void BilinearStretch::rowsFor(const cv::Mat& src, int upper, int lower, const int16_t*& s0,
                              const int16_t*& s1) {
    // Each source row stretched once and kept while the next output rows
    // still need it.
    auto slotOf = [this](int row) { return m_rowOf[0] == row ? 0 : m_rowOf[1] == row ? 1 : -1; };
    auto fill = [&](int slot, int row) {
        horizontal(src.ptr<uint8_t>(row), m_rows[slot].data());
        m_rowOf[slot] = row;
    };
    int upperSlot = slotOf(upper);
    if (upperSlot < 0) fill(upperSlot = slotOf(lower) == 0 ? 1 : 0, upper);
    int lowerSlot = slotOf(lower);
    if (lowerSlot < 0) fill(lowerSlot = upperSlot ^ 1, lower);
    s0 = m_rows[upperSlot].data();
    s1 = m_rows[lowerSlot].data();
}

void BilinearStretch::apply(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize) {
    run(src, dst, dstSize, src.channels());
}

void BilinearStretch::applyToBgrx(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize) {
    CV_Assert(src.type() == CV_8UC3);
    run(src, dst, dstSize, 4);
}

void BilinearStretch::run(const cv::Mat& src, cv::Mat& dst, cv::Size dstSize, int outChannels) {
    prepare(src.size(), dstSize, src.channels(), outChannels);
    dst.create(dstSize, CV_8UC(outChannels));
    m_rowOf[0] = m_rowOf[1] = -1;
    const Instructions level = instructions();
    const int width = m_width;
    auto sourceRows = [&](int dy, int& upper, int& lower) {
        upper = std::clamp(m_yofs[dy], 0, src.rows - 1);
        lower = std::clamp(m_yofs[dy] + 1, 0, src.rows - 1);
    };
    for (int dy = 0; dy < dstSize.height;) {
        int upper, lower;
        sourceRows(dy, upper, lower);
        const int16_t *s0, *s1;
        rowsFor(src, upper, lower, s0, s1);
        const int b0 = m_beta[dy * 2];
        const int b1 = m_beta[dy * 2 + 1];
        uint8_t* out = dst.ptr<uint8_t>(dy);
        int x = 0;
        if (b0 == kOne && b1 == 0) {
#if defined(KEST_STRETCH_VECTORS)
            if (level == Instructions::Avx2) x = copyRowAvx2(s0, out, width);
            if (level >= Instructions::Ssse3) x += copyRowSsse3(s0 + x, out + x, width - x);
#endif
            copyRow(s0, out, x, width);
            ++dy;
            continue;
        }
        // The next row between the same source rows, mirrored, shares the
        // products.
        if (dy + 1 < dstSize.height && m_beta[dy * 2 + 2] == b1 && m_beta[dy * 2 + 3] == b0) {
            int nextUpper, nextLower;
            sourceRows(dy + 1, nextUpper, nextLower);
            if (nextUpper == upper && nextLower == lower) {
                uint8_t* next = dst.ptr<uint8_t>(dy + 1);
#if defined(KEST_STRETCH_VECTORS)
                if (level == Instructions::Avx2)
                    x = blendPairAvx2(s0, s1, b0, b1, out, next, width);
                if (level >= Instructions::Ssse3)
                    x += blendPairSsse3(s0 + x, s1 + x, b0, b1, out + x, next + x, width - x);
#endif
                blendRow(s0, s1, b0, b1, out, x, width);
                blendRow(s0, s1, b1, b0, next, x, width);
                dy += 2;
                continue;
            }
        }
#if defined(KEST_STRETCH_VECTORS)
        if (level == Instructions::Avx2) x = blendRowAvx2(s0, s1, b0, b1, out, width);
        if (level >= Instructions::Ssse3)
            x += blendRowSsse3(s0 + x, s1 + x, b0, b1, out + x, width - x);
#endif
        blendRow(s0, s1, b0, b1, out, x, width);
        ++dy;
    }
#if defined(KEST_STRETCH_VECTORS)
    // The streamed stores are weakly ordered: complete them before the
    // picture is handed to another thread.
    if (level == Instructions::Avx2) _mm_sfence();
#endif
}
