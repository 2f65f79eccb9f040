#include "views/TopView.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/ByteOrder.h"
#include "views/JetTable.h"

namespace {

constexpr float kLongAxisMargin = 0.4f;  // metres added at both ends of the long axis
constexpr float kRowMargin = 0.7f;       // projection margin along x (rows)
constexpr float kColumnMargin = 0.1f;    // projection margin along y (columns)
constexpr int kObjectKindSkipped = -2;   // records of this kind are not drawn

constexpr size_t kPointBytes = 12;

// roundf (halves away from zero) for |v| < 2^31, which callers check first:
// the truncation and v - truncation are exact, and no library call is made.
inline int roundHalfAway(float v) {
    const int i = static_cast<int>(v);
    const float frac = v - static_cast<float>(i);
    return i + (frac >= 0.5f) - (frac <= -0.5f);
}

// Where a point lands in the peak map (see ProjectTopView).
struct CellMapping {
    float xMin, yMin, sx, sy, heightRange;

    // The cell of a point; drawn gets the height it raises its cell to.
    int32_t cell(const uint8_t* point, float& drawn) const {
        const float z = readF32le(point + 8);
        drawn = z > 0.0f ? z : 0.0f;
        const float vc = (readF32le(point + 4) - yMin) / sy;
        const float vr = (readF32le(point) - xMin) / sx;
        // Only points whose 3 x 3 block touches the picture (rounded position
        // -1 to the size); NaN fails every comparison, so nothing out of int
        // range is converted.
        if (!(z <= heightRange && vr > -1.5f && vr < kTopViewHeight + 0.5f && vc > -1.5f &&
              vc < kTopViewWidth + 0.5f))
            return kTopViewPeakCells;
        return (roundHalfAway(vr) + 1) * kTopViewPeakWidth + roundHalfAway(vc) + 1;
    }

#if defined(__SSE2__)
    // roundHalfAway of four values that are known to be small.
    static __m128 round4(__m128 v) {
        const __m128i truncated = _mm_cvttps_epi32(v);
        const __m128 frac = _mm_sub_ps(v, _mm_cvtepi32_ps(truncated));
        // A true comparison is -1 as an integer: subtracting it adds one.
        const __m128i up = _mm_castps_si128(_mm_cmpge_ps(frac, _mm_set1_ps(0.5f)));
        const __m128i down = _mm_castps_si128(_mm_cmple_ps(frac, _mm_set1_ps(-0.5f)));
        return _mm_cvtepi32_ps(_mm_add_epi32(_mm_sub_epi32(truncated, up), down));
    }

    void cells4(const uint8_t* points, int32_t* out, float* drawn) const {
        // Four points are 48 bytes: a = x0 y0 z0 x1, b = y1 z1 x2 y2,
        // c = z2 x3 y3 z3 (little-endian floats, as this processor's).
        const float* f = reinterpret_cast<const float*>(points);
        const __m128 a = _mm_loadu_ps(f), b = _mm_loadu_ps(f + 4), c = _mm_loadu_ps(f + 8);
        const __m128 x = _mm_shuffle_ps(a, _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 1, 0, 2)),
                                        _MM_SHUFFLE(2, 0, 3, 0));
        const __m128 y =
            _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 1)),
                           _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 2, 0, 3)), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 z =
            _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 1, 0, 2)),
                           _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 0, 3, 0)), _MM_SHUFFLE(1, 0, 2, 0));
        const __m128 vc = _mm_div_ps(_mm_sub_ps(y, _mm_set1_ps(yMin)), _mm_set1_ps(sy));
        const __m128 vr = _mm_div_ps(_mm_sub_ps(x, _mm_set1_ps(xMin)), _mm_set1_ps(sx));
        __m128 inside = _mm_cmple_ps(z, _mm_set1_ps(heightRange));
        inside = _mm_and_ps(inside, _mm_cmpgt_ps(vr, _mm_set1_ps(-1.5f)));
        inside = _mm_and_ps(inside, _mm_cmplt_ps(vr, _mm_set1_ps(kTopViewHeight + 0.5f)));
        inside = _mm_and_ps(inside, _mm_cmpgt_ps(vc, _mm_set1_ps(-1.5f)));
        inside = _mm_and_ps(inside, _mm_cmplt_ps(vc, _mm_set1_ps(kTopViewWidth + 0.5f)));
        // Points outside are zeroed before conversion; their cell is replaced below.
        const __m128 row = round4(_mm_and_ps(inside, vr));
        const __m128 column = round4(_mm_and_ps(inside, vc));
        // Small whole numbers: exact in float arithmetic.
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 at =
            _mm_add_ps(_mm_mul_ps(_mm_add_ps(row, one), _mm_set1_ps(kTopViewPeakWidth)),
                       _mm_add_ps(column, one));
        const __m128i mask = _mm_castps_si128(inside);
        const __m128i cell =
            _mm_or_si128(_mm_and_si128(mask, _mm_cvttps_epi32(at)),
                         _mm_andnot_si128(mask, _mm_set1_epi32(kTopViewPeakCells)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), cell);
        // z > 0 ? z : 0, also for -0 (the maximum gives its second operand on a tie).
        _mm_storeu_ps(drawn, _mm_max_ps(z, _mm_setzero_ps()));
    }
#endif
};

}  // namespace

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

    // First the heights. A point raises its pixel and the eight around it to
    // its height, so a pixel's height is the highest point among the 3 x 3
    // pixels centred on it: each point is written once into the peak map, and
    // a 3 x 3 maximum then gives every pixel its height.
    float* peaks = view.peaks.data();
    view.peaks.fill(0.0f);
    const size_t pointCount = pointLen / kPointBytes;
    // Pass 1, the arithmetic: the peak-map cell of each point, or the mark
    // kTopViewPeakCells (past the map's end) for points that are too high,
    // NaN, or too far outside. Four points at a time where the processor allows; both paths
    // do the same IEEE operations, so they give the same cells.
    if (view.cells.size() < pointCount) view.cells.resize(pointCount);
    if (view.drawnHeights.size() < pointCount) view.drawnHeights.resize(pointCount);
    int32_t* cells = view.cells.data();
    float* drawnHeights = view.drawnHeights.data();
    const CellMapping mapping{xMin, yMin, sx, sy, heightRange};
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= pointCount; i += 4)
        mapping.cells4(pointBytes + i * kPointBytes, cells + i, drawnHeights + i);
#endif
    for (; i < pointCount; ++i)
        cells[i] = mapping.cell(pointBytes + i * kPointBytes, drawnHeights[i]);

    // Pass 2, one write per point: the cell keeps its highest point. The
    // spare cell collects the rejected points and is never read. Neighbouring
    // points of the device's scan land in the same cell, and each write then
    // waits for the one before; four far-apart parts of the frame, taken in
    // turn, keep four such chains going at once. The maximum does not depend
    // on the order.
    const float* drawn = view.drawnHeights.data();
    auto raise = [&](size_t k) { peaks[cells[k]] = std::max(peaks[cells[k]], drawn[k]); };
    const size_t quarter = pointCount / 4;
    for (size_t k = 0; k < quarter; ++k) {
        raise(k);
        raise(k + quarter);
        raise(k + 2 * quarter);
        raise(k + 3 * quarter);
    }
    for (size_t k = 4 * quarter; k < pointCount; ++k) raise(k);

    // The 3 x 3 maximum, separable: across three columns, then three rows;
    // with each pixel's height comes its colour index. No height is NaN
    // (such points were rejected), so the vector maximum gives std::max's
    // results. Four pixels at a time where the processor allows, the same
    // IEEE operations either way.
    float* rowPeaks = view.rowPeaks.data();
    for (int r = 0; r < kTopViewPeakHeight; ++r) {
        const float* in = peaks + r * kTopViewPeakWidth;
        float* out = rowPeaks + r * kTopViewWidth;
        int c = 0;
#if defined(__SSE2__)
        for (; c + 4 <= kTopViewWidth; c += 4)
            _mm_storeu_ps(out + c,
                          _mm_max_ps(_mm_max_ps(_mm_loadu_ps(in + c), _mm_loadu_ps(in + c + 1)),
                                     _mm_loadu_ps(in + c + 2)));
#endif
        for (; c < kTopViewWidth; ++c) out[c] = std::max(std::max(in[c], in[c + 1]), in[c + 2]);
    }
    float* heights = view.heights.data();
    uint8_t* indices = view.indices.data();
    auto indexOf = [indexStep](float h) {
        // heightRange rounding cannot pass the top of the scale.
        return static_cast<uint8_t>(std::min(roundHalfAway(h * 1000.0f / indexStep), 255));
    };
    for (int r = 0; r < kTopViewHeight; ++r) {
        const float* above = rowPeaks + r * kTopViewWidth;
        const float* centre = above + kTopViewWidth;
        const float* below = centre + kTopViewWidth;
        float* out = heights + r * kTopViewWidth;
        uint8_t* index = indices + r * kTopViewWidth;
        int c = 0;
#if defined(__SSE2__)
        for (; c + 4 <= kTopViewWidth; c += 4) {
            const __m128 h =
                _mm_max_ps(_mm_max_ps(_mm_loadu_ps(above + c), _mm_loadu_ps(centre + c)),
                           _mm_loadu_ps(below + c));
            _mm_storeu_ps(out + c, h);
            const __m128 scaled =
                _mm_div_ps(_mm_mul_ps(h, _mm_set1_ps(1000.0f)), _mm_set1_ps(indexStep));
            // Heights are 0 or more: the indices are small non-negative numbers.
            const __m128i lanes = _mm_cvttps_epi32(CellMapping::round4(scaled));
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lanes, lanes), lanes);
            const int32_t four = _mm_cvtsi128_si32(bytes);
            std::memcpy(index + c, &four, 4);
        }
#endif
        for (; c < kTopViewWidth; ++c) {
            out[c] = std::max(std::max(above[c], centre[c]), below[c]);
            index[c] = indexOf(out[c]);
        }
    }

    // Then the colours. A pixel shows the colour of the last point that won
    // it, and that colour depends on the height alone, so it is the colour of
    // the pixel's final height; untouched pixels (height 0) get index 0, the
    // background.
    // Each colour is written as four bytes, the fourth being overwritten by
    // the next pixel; the last pixel gets its three alone.
    static const std::array<uint32_t, 256> kJetWords = [] {
        std::array<uint32_t, 256> words{};
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = kJetTable[i][0] | (kJetTable[i][1] << 8) | (kJetTable[i][2] << 16);
        return words;
    }();
    uint8_t* dst = view.pixels.data();
    int at = 0;
    for (; at + 1 < kTopViewPixels; ++at, dst += 3) {
        const uint32_t word = kJetWords[indices[at]];
        uint8_t bytes[4];
        writeU32le(bytes, word);
        std::memcpy(dst, bytes, 4);
    }
    const BgrColour& last = kJetTable[indices[at]];
    std::copy(last.begin(), last.end(), dst);

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
