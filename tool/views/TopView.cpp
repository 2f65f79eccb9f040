#include "views/TopView.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The AVX2 kernels are compiled for that extension alone and run only where
// the processor reports it.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KEST_TOPVIEW_AVX2 1
#include <immintrin.h>
#else
#define KEST_TOPVIEW_AVX2 0
#endif

#include "core/ByteOrder.h"
#include "views/JetTable.h"

namespace {

constexpr float kLongAxisMargin = 0.4f;  // metres added at both ends of the long axis
constexpr float kRowMargin = 0.7f;       // projection margin along x (rows)
constexpr float kColumnMargin = 0.1f;    // projection margin along y (columns)
constexpr int kObjectKindSkipped = -2;   // records of this kind are not drawn

constexpr size_t kPointBytes = 12;
// The points are taken as four far-apart parts of the frame in turn (see
// raisePeaks).
constexpr size_t kStreams = 4;

// roundf (halves away from zero) for |v| < 2^31, which callers check first:
// the truncation and v - truncation are exact, and no library call is made.
inline int roundHalfAway(float v) {
    const int i = static_cast<int>(v);
    const float frac = v - static_cast<float>(i);
    return i + (frac >= 0.5f) - (frac <= -0.5f);
}

// What the projection of one frame needs: where a point lands in the peak
// map, and the colour index of a height.
struct Mapping {
    float xMin, yMin, sx, sy, heightRange, indexStep;

    // The cell of a point, or the spare cell given for points not drawn;
    // drawn gets the height it raises its cell to.
    int32_t cell(const uint8_t* point, int32_t spare, float& drawn) const {
        const float z = readF32le(point + 8);
        drawn = z > 0.0f ? z : 0.0f;
        const float vc = (readF32le(point + 4) - yMin) / sy;
        const float vr = (readF32le(point) - xMin) / sx;
        // Only points whose 3 x 3 block touches the picture (rounded position
        // -1 to the size); NaN fails every comparison, so nothing out of int
        // range is converted.
        if (!(z <= heightRange && vr > -1.5f && vr < kTopViewHeight + 0.5f && vc > -1.5f &&
              vc < kTopViewWidth + 0.5f))
            return spare;
        return (roundHalfAway(vr) + 1) * kTopViewPeakWidth + roundHalfAway(vc) + 1;
    }

    // Heights up to heightRange cannot round past the top of the scale.
    uint8_t index(float h) const {
        return static_cast<uint8_t>(std::min(roundHalfAway(h * 1000.0f / indexStep), 255));
    }
};

// One write per point: the cell keeps its highest point. The spare cells are
// never read.
inline void raise(float* peaks, int32_t cell, float drawn) {
    peaks[cell] = std::max(peaks[cell], drawn);
}

// The colours of a row of 240 pixels from their indices. Each colour is
// written as four bytes, the fourth being overwritten by the next pixel; the
// last pixel of the picture gets its three alone.
const std::array<uint32_t, 256> kJetWords = [] {
    std::array<uint32_t, 256> words{};
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = kJetTable[i][0] | (kJetTable[i][1] << 8) | (kJetTable[i][2] << 16);
    return words;
}();

inline void paintRow(const uint8_t* indices, uint8_t* dst, bool lastRow) {
    const int whole = lastRow ? kTopViewWidth - 1 : kTopViewWidth;
    for (int c = 0; c < whole; ++c, dst += 3) {
        uint8_t bytes[4];
        writeU32le(bytes, kJetWords[indices[c]]);
        std::memcpy(dst, bytes, 4);
    }
    if (lastRow) std::memcpy(dst, kJetTable[indices[whole]].data(), 3);
}

// --- Without vector extensions beyond SSE2 (scalar where SSE2 is missing). ---

#if defined(__SSE2__)
// roundHalfAway of four values that are known to be small.
inline __m128 round4(__m128 v) {
    const __m128i truncated = _mm_cvttps_epi32(v);
    const __m128 frac = _mm_sub_ps(v, _mm_cvtepi32_ps(truncated));
    // A true comparison is -1 as an integer: subtracting it adds one.
    const __m128i up = _mm_castps_si128(_mm_cmpge_ps(frac, _mm_set1_ps(0.5f)));
    const __m128i down = _mm_castps_si128(_mm_cmple_ps(frac, _mm_set1_ps(-0.5f)));
    return _mm_cvtepi32_ps(_mm_add_epi32(_mm_sub_epi32(truncated, up), down));
}

// Mapping::cell of four points, the same IEEE operations four at a time.
inline void cells4(const Mapping& m, const uint8_t* points, int32_t spare, int32_t* out,
                   float* drawn) {
    // Four points are 48 bytes: a = x0 y0 z0 x1, b = y1 z1 x2 y2,
    // c = z2 x3 y3 z3 (little-endian floats, as this processor's).
    const float* f = reinterpret_cast<const float*>(points);
    const __m128 a = _mm_loadu_ps(f), b = _mm_loadu_ps(f + 4), c = _mm_loadu_ps(f + 8);
    const __m128 x =
        _mm_shuffle_ps(a, _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 1, 0, 2)), _MM_SHUFFLE(2, 0, 3, 0));
    const __m128 y =
        _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 1)),
                       _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 2, 0, 3)), _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 z =
        _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 1, 0, 2)),
                       _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 0, 3, 0)), _MM_SHUFFLE(1, 0, 2, 0));
    const __m128 vc = _mm_div_ps(_mm_sub_ps(y, _mm_set1_ps(m.yMin)), _mm_set1_ps(m.sy));
    const __m128 vr = _mm_div_ps(_mm_sub_ps(x, _mm_set1_ps(m.xMin)), _mm_set1_ps(m.sx));
    __m128 inside = _mm_cmple_ps(z, _mm_set1_ps(m.heightRange));
    inside = _mm_and_ps(inside, _mm_cmpgt_ps(vr, _mm_set1_ps(-1.5f)));
    inside = _mm_and_ps(inside, _mm_cmplt_ps(vr, _mm_set1_ps(kTopViewHeight + 0.5f)));
    inside = _mm_and_ps(inside, _mm_cmpgt_ps(vc, _mm_set1_ps(-1.5f)));
    inside = _mm_and_ps(inside, _mm_cmplt_ps(vc, _mm_set1_ps(kTopViewWidth + 0.5f)));
    // Points outside are zeroed before conversion; their cell is replaced below.
    const __m128 row = round4(_mm_and_ps(inside, vr));
    const __m128 column = round4(_mm_and_ps(inside, vc));
    // Small whole numbers: exact in float arithmetic.
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 at = _mm_add_ps(_mm_mul_ps(_mm_add_ps(row, one), _mm_set1_ps(kTopViewPeakWidth)),
                                 _mm_add_ps(column, one));
    const __m128i mask = _mm_castps_si128(inside);
    const __m128i spares = _mm_add_epi32(_mm_set1_epi32(spare), _mm_setr_epi32(0, 1, 2, 3));
    const __m128i cell =
        _mm_or_si128(_mm_and_si128(mask, _mm_cvttps_epi32(at)), _mm_andnot_si128(mask, spares));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), cell);
    // z > 0 ? z : 0, also for -0 (the maximum gives its second operand on a tie).
    _mm_storeu_ps(drawn, _mm_max_ps(z, _mm_setzero_ps()));
}
#endif

// Points from..count-1, one at a time (what is left after the vector steps).
void raiseOneByOne(const Mapping& m, const uint8_t* points, size_t from, size_t count,
                   float* peaks) {
    for (size_t i = from; i < count; ++i) {
        float drawn;
        const int32_t cell = m.cell(points + i * kPointBytes, kTopViewPeakCells, drawn);
        raise(peaks, cell, drawn);
    }
}

// Every point raises its cell of the peak map. Neighbouring points of the
// device's scan may land in the same cell, and each write then waits for the
// one before; four far-apart parts of the frame, taken in turn, keep four such
// chains going at once. The maximum does not depend on the order.
void raisePeaksSse2(const Mapping& m, const uint8_t* points, size_t count, float* peaks) {
    size_t i = 0;
#if defined(__SSE2__)
    constexpr size_t kStep = 4;
    const size_t part = count / (kStreams * kStep) * kStep;
    alignas(16) int32_t cells[kStreams][kStep];
    alignas(16) float drawn[kStreams][kStep];
    for (size_t k = 0; k < part; k += kStep) {
        for (size_t s = 0; s < kStreams; ++s)
            cells4(m, points + (s * part + k) * kPointBytes,
                   kTopViewPeakCells + static_cast<int32_t>(s * kStep), cells[s], drawn[s]);
        for (size_t j = 0; j < kStep; ++j)
            for (size_t s = 0; s < kStreams; ++s) raise(peaks, cells[s][j], drawn[s][j]);
    }
    for (i = kStreams * part; i + kStep <= count; i += kStep) {
        cells4(m, points + i * kPointBytes, kTopViewPeakCells, cells[0], drawn[0]);
        for (size_t j = 0; j < kStep; ++j) raise(peaks, cells[0][j], drawn[0][j]);
    }
#endif
    raiseOneByOne(m, points, i, count, peaks);
}

// The 3 x 3 maximum, separable: across three columns of each peak row, then
// down three such rows; with each pixel's height comes its colour index, then
// the row's colours. No height is NaN (such points were rejected), so the
// vector maximum gives std::max's results.
void shadeSse2(const Mapping& m, const float* peaks, float* heights, uint8_t* pixels) {
    alignas(16) float across[3][kTopViewWidth];  // the last three peak rows, across three columns
    alignas(16) uint8_t indices[kTopViewWidth];
    for (int r = 0; r < kTopViewPeakHeight; ++r) {
        const float* in = peaks + r * kTopViewPeakWidth;
        float* out = across[r % 3];
        int c = 0;
#if defined(__SSE2__)
        for (; c + 4 <= kTopViewWidth; c += 4)
            _mm_store_ps(out + c,
                         _mm_max_ps(_mm_max_ps(_mm_loadu_ps(in + c), _mm_loadu_ps(in + c + 1)),
                                    _mm_loadu_ps(in + c + 2)));
#endif
        for (; c < kTopViewWidth; ++c) out[c] = std::max(std::max(in[c], in[c + 1]), in[c + 2]);
        if (r < 2) continue;
        // Picture row r - 2 is centred on peak row r - 1.
        const int row = r - 2;
        const float* above = across[row % 3];
        const float* centre = across[(row + 1) % 3];
        const float* below = across[(row + 2) % 3];
        float* h = heights + row * kTopViewWidth;
        c = 0;
#if defined(__SSE2__)
        for (; c + 4 <= kTopViewWidth; c += 4) {
            const __m128 v = _mm_max_ps(_mm_max_ps(_mm_load_ps(above + c), _mm_load_ps(centre + c)),
                                        _mm_load_ps(below + c));
            _mm_storeu_ps(h + c, v);
            const __m128 scaled =
                _mm_div_ps(_mm_mul_ps(v, _mm_set1_ps(1000.0f)), _mm_set1_ps(m.indexStep));
            // Heights are 0 or more: the indices are small non-negative numbers.
            const __m128i lanes = _mm_cvttps_epi32(round4(scaled));
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lanes, lanes), lanes);
            const int32_t four = _mm_cvtsi128_si32(bytes);
            std::memcpy(indices + c, &four, 4);
        }
#endif
        for (; c < kTopViewWidth; ++c) {
            h[c] = std::max(std::max(above[c], centre[c]), below[c]);
            indices[c] = m.index(h[c]);
        }
        paintRow(indices, pixels + row * kTopViewWidth * 3, row == kTopViewHeight - 1);
    }
}

// --- AVX2, eight points or pixels at a time: the same IEEE operations. ---

#if KEST_TOPVIEW_AVX2
#define KEST_AVX2 __attribute__((target("avx2")))

// roundHalfAway of eight values, as whole numbers. Values out of int range
// give meaningless lanes, which the caller discards.
KEST_AVX2 inline __m256i round8(__m256 v) {
    const __m256i truncated = _mm256_cvttps_epi32(v);
    const __m256 frac = _mm256_sub_ps(v, _mm256_cvtepi32_ps(truncated));
    const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(frac, _mm256_set1_ps(0.5f), _CMP_GE_OQ));
    const __m256i down =
        _mm256_castps_si256(_mm256_cmp_ps(frac, _mm256_set1_ps(-0.5f), _CMP_LE_OQ));
    return _mm256_add_epi32(_mm256_sub_epi32(truncated, up), down);
}

// Two 16-byte loads into one register, the first in the low half.
KEST_AVX2 inline __m256 load2(const float* low, const float* high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// cells4 of eight points: points 0-3 in the low halves, 4-7 in the high ones.
KEST_AVX2 inline void cells8(const Mapping& m, const uint8_t* points, int32_t spare, int32_t* out,
                             float* drawn) {
    const float* f = reinterpret_cast<const float*>(points);
    const __m256 a = load2(f, f + 12), b = load2(f + 4, f + 16), c = load2(f + 8, f + 20);
    const __m256 x = _mm256_shuffle_ps(a, _mm256_shuffle_ps(b, c, _MM_SHUFFLE(0, 1, 0, 2)),
                                       _MM_SHUFFLE(2, 0, 3, 0));
    const __m256 y = _mm256_shuffle_ps(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 1)),
                                       _mm256_shuffle_ps(b, c, _MM_SHUFFLE(0, 2, 0, 3)),
                                       _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 z = _mm256_shuffle_ps(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(0, 1, 0, 2)),
                                       _mm256_shuffle_ps(c, c, _MM_SHUFFLE(3, 0, 3, 0)),
                                       _MM_SHUFFLE(1, 0, 2, 0));
    const __m256 vc = _mm256_div_ps(_mm256_sub_ps(y, _mm256_set1_ps(m.yMin)), _mm256_set1_ps(m.sy));
    const __m256 vr = _mm256_div_ps(_mm256_sub_ps(x, _mm256_set1_ps(m.xMin)), _mm256_set1_ps(m.sx));
    __m256 inside = _mm256_cmp_ps(z, _mm256_set1_ps(m.heightRange), _CMP_LE_OQ);
    inside = _mm256_and_ps(inside, _mm256_cmp_ps(vr, _mm256_set1_ps(-1.5f), _CMP_GT_OQ));
    inside =
        _mm256_and_ps(inside, _mm256_cmp_ps(vr, _mm256_set1_ps(kTopViewHeight + 0.5f), _CMP_LT_OQ));
    inside = _mm256_and_ps(inside, _mm256_cmp_ps(vc, _mm256_set1_ps(-1.5f), _CMP_GT_OQ));
    inside =
        _mm256_and_ps(inside, _mm256_cmp_ps(vc, _mm256_set1_ps(kTopViewWidth + 0.5f), _CMP_LT_OQ));
    // The cell in whole numbers; lanes outside are replaced below.
    const __m256i at =
        _mm256_add_epi32(_mm256_mullo_epi32(round8(vr), _mm256_set1_epi32(kTopViewPeakWidth)),
                         _mm256_add_epi32(round8(vc), _mm256_set1_epi32(kTopViewPeakWidth + 1)));
    const __m256i spares =
        _mm256_add_epi32(_mm256_set1_epi32(spare), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i cell = _mm256_blendv_epi8(spares, at, _mm256_castps_si256(inside));
    _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(cell));
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 4), _mm256_extracti128_si256(cell, 1));
    const __m256 d = _mm256_max_ps(z, _mm256_setzero_ps());
    _mm_store_ps(drawn, _mm256_castps256_ps128(d));
    _mm_store_ps(drawn + 4, _mm256_extractf128_ps(d, 1));
}

KEST_AVX2 void raisePeaksAvx2(const Mapping& m, const uint8_t* points, size_t count, float* peaks) {
    constexpr size_t kStep = 8;
    const size_t part = count / (kStreams * kStep) * kStep;
    alignas(32) int32_t cells[kStreams][kStep];
    alignas(32) float drawn[kStreams][kStep];
    for (size_t k = 0; k < part; k += kStep) {
        for (size_t s = 0; s < kStreams; ++s)
            cells8(m, points + (s * part + k) * kPointBytes,
                   kTopViewPeakCells + static_cast<int32_t>(s * kStep), cells[s], drawn[s]);
        for (size_t j = 0; j < kStep; ++j)
            for (size_t s = 0; s < kStreams; ++s) raise(peaks, cells[s][j], drawn[s][j]);
    }
    size_t i = kStreams * part;
    for (; i + kStep <= count; i += kStep) {
        cells8(m, points + i * kPointBytes, kTopViewPeakCells, cells[0], drawn[0]);
        for (size_t j = 0; j < kStep; ++j) raise(peaks, cells[0][j], drawn[0][j]);
    }
    raiseOneByOne(m, points, i, count, peaks);
}

KEST_AVX2 void shadeAvx2(const Mapping& m, const float* peaks, float* heights, uint8_t* pixels) {
    static_assert(kTopViewWidth % 8 == 0, "rows are whole steps of eight pixels");
    alignas(32) float across[3][kTopViewWidth];
    for (int r = 0; r < kTopViewPeakHeight; ++r) {
        const float* in = peaks + r * kTopViewPeakWidth;
        float* out = across[r % 3];
        for (int c = 0; c < kTopViewWidth; c += 8)
            _mm256_store_ps(out + c, _mm256_max_ps(_mm256_max_ps(_mm256_loadu_ps(in + c),
                                                                 _mm256_loadu_ps(in + c + 1)),
                                                   _mm256_loadu_ps(in + c + 2)));
        if (r < 2) continue;
        const int row = r - 2;
        const float* above = across[row % 3];
        const float* centre = across[(row + 1) % 3];
        const float* below = across[(row + 2) % 3];
        float* h = heights + row * kTopViewWidth;
        for (int c = 0; c < kTopViewWidth; c += 8) {
            const __m256 v =
                _mm256_max_ps(_mm256_max_ps(_mm256_load_ps(above + c), _mm256_load_ps(centre + c)),
                              _mm256_load_ps(below + c));
            _mm256_storeu_ps(h + c, v);
            const __m256 scaled = _mm256_div_ps(_mm256_mul_ps(v, _mm256_set1_ps(1000.0f)),
                                                _mm256_set1_ps(m.indexStep));
            // Heights are 0 or more; the top of the scale is kept as in Mapping::index,
            // so that no lane reads past the table.
            const __m256i lanes = _mm256_min_epi32(round8(scaled), _mm256_set1_epi32(255));
            // The eight colours, 24 bytes: each half packs its four into 12
            // and is written as 16, the last four bytes being overwritten next.
            const __m256i words = _mm256_shuffle_epi8(
                _mm256_i32gather_epi32(reinterpret_cast<const int*>(kJetWords.data()), lanes, 4),
                _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4,
                                 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
            uint8_t* dst = pixels + (row * kTopViewWidth + c) * 3;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(words));
            if (row == kTopViewHeight - 1 && c + 8 == kTopViewWidth) {
                alignas(16) uint8_t last[16];
                _mm_store_si128(reinterpret_cast<__m128i*>(last),
                                _mm256_extracti128_si256(words, 1));
                std::memcpy(dst + 12, last, 12);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12),
                                 _mm256_extracti128_si256(words, 1));
            }
        }
    }
}

#undef KEST_AVX2
#endif  // KEST_TOPVIEW_AVX2

struct Kernels {
    void (*raisePeaks)(const Mapping&, const uint8_t*, size_t, float*);
    void (*shade)(const Mapping&, const float*, float*, uint8_t*);
};

constexpr Kernels kSse2Kernels{raisePeaksSse2, shadeSse2};
#if KEST_TOPVIEW_AVX2
constexpr Kernels kAvx2Kernels{raisePeaksAvx2, shadeAvx2};
#endif

bool hasAvx2() {
#if KEST_TOPVIEW_AVX2
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

Kernels widestKernels() {
#if KEST_TOPVIEW_AVX2
    if (hasAvx2()) return kAvx2Kernels;
#endif
    return kSse2Kernels;
}

// The kernels of every projection; tests may replace them.
std::atomic<const Kernels*> gKernels{nullptr};

const Kernels& kernels() {
    static const Kernels widest = widestKernels();
    const Kernels* chosen = gKernels.load(std::memory_order_relaxed);
    return chosen ? *chosen : widest;
}

}  // namespace

bool UseTopViewInstructionsForTesting(TopViewInstructions instructions) {
    switch (instructions) {
        case TopViewInstructions::Widest:
            gKernels.store(nullptr);
            return true;
        case TopViewInstructions::Avx2:
#if KEST_TOPVIEW_AVX2
            if (!hasAvx2()) return false;
            gKernels.store(&kAvx2Kernels);
            return true;
#else
            return false;
#endif
        case TopViewInstructions::Sse2:
            gKernels.store(&kSse2Kernels);
            return true;
    }
    return false;
}

TopViewBounds TopViewBoundsForArea(const AreaBlock& a) {
    TopViewBounds b;
    if (a[3] - a[1] > a[2] - a[0]) {
        b.xMin = a[0];
        b.xMax = a[2];
        b.yMin = a[1] - kLongAxisMargin;
        b.yMax = a[3] + kLongAxisMargin;
    } else {
        b.xMin = a[0] - kLongAxisMargin;
        b.xMax = a[2] + kLongAxisMargin;
        b.yMin = a[1];
        b.yMax = a[3];
    }
    return b;
}

void ProjectTopView(TopViewImage& view, const uint8_t* pointBytes, size_t pointLen,
                    float heightRange, float xMin, float xMax, float yMin, float yMax, int objCount,
                    const ObjRecord* records, const AreaBlock& areas, TopViewRects& rects) {
    xMin -= kRowMargin;
    xMax += kRowMargin;
    yMin -= kColumnMargin;
    yMax += kColumnMargin;
    const float sx = (xMax - xMin) / static_cast<float>(kTopViewHeight - 1);
    const float sy = (yMax - yMin) / static_cast<float>(kTopViewWidth - 1);
    const float indexStep = heightRange * 1000.0f / 255.0f;
    const Mapping mapping{xMin, yMin, sx, sy, heightRange, indexStep};
    const Kernels& run = kernels();

    // First the heights. A point raises its pixel and the eight around it to
    // its height, so a pixel's height is the highest point among the 3 x 3
    // pixels centred on it: each point is written once into the peak map, and
    // a 3 x 3 maximum then gives every pixel its height. Points too high, NaN
    // or too far outside go to the spare cells.
    view.peaks.fill(0.0f);
    run.raisePeaks(mapping, pointBytes, pointLen / kPointBytes, view.peaks.data());

    // Then the colours. A pixel shows the colour of the last point that won
    // it, and that colour depends on the height alone, so it is the colour of
    // the pixel's final height; untouched pixels (height 0) get index 0, the
    // background.
    run.shade(mapping, view.peaks.data(), view.heights.data(), view.pixels.data());

    if (objCount > kMaxObjRecords) objCount = kMaxObjRecords;
    rects.objectCount = 0;
    for (int i = 0; i < objCount; ++i) {
        const ObjRecord& o = records[i];
        if (o.kind == kObjectKindSkipped) continue;
        rects.objects[rects.objectCount++] =
            MapRect(o.x1, o.y1, o.x2, o.y2, xMin, xMax, yMin, yMax, kTopViewWidth, kTopViewHeight);
    }
    for (int k = 0; k < kTopViewAreaRects; ++k) {
        rects.areas[k] = MapRect(areas[4 * k], areas[4 * k + 1], areas[4 * k + 2], areas[4 * k + 3],
                                 xMin, xMax, yMin, yMax, kTopViewWidth, kTopViewHeight);
    }
}

int RenderTopView(TopViewImage& view, const uint8_t* pointBytes, size_t pointLen, int objCount,
                  const ObjRecord* records, const AreaBlock& areas, TopViewRects& rects) {
    const TopViewBounds b = TopViewBoundsForArea(areas);
    ProjectTopView(view, pointBytes, pointLen, kTopViewHeightRange, b.xMin, b.xMax, b.yMin, b.yMax,
                   objCount, records, areas, rects);
    cv::Mat image = view.mat();
    return DrawTopViewOverlay(image, objCount, records, rects);
}
