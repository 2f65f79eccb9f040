#include "views/TopView.h"

#include <algorithm>

#include "core/ByteOrder.h"
#include "views/JetTable.h"

namespace {

constexpr float kLongAxisMargin = 0.4f;  // metres added at both ends of the long axis
constexpr float kRowMargin = 0.7f;       // projection margin along x (rows)
constexpr float kColumnMargin = 0.1f;    // projection margin along y (columns)
constexpr int kObjectKindSkipped = -2;   // records of this kind are not drawn

// The pixel of a point and its eight neighbours, as (row, column) and as
// offsets into the picture.
constexpr int kSplat[9][2] = {{0, 0}, {-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                              {0, 1}, {1, -1},  {1, 0},  {1, 1}};

constexpr int kSplatOffsets[9] = {0, -kTopViewWidth - 1, -kTopViewWidth, -kTopViewWidth + 1, -1,
                                  1, kTopViewWidth - 1,  kTopViewWidth,  kTopViewWidth + 1};
constexpr size_t kPointBytes = 12;

// roundf (halves away from zero) for |v| < 2^31, which callers check first:
// the truncation and v - truncation are exact, and no library call is made.
inline int roundHalfAway(float v) {
    int i = static_cast<int>(v);
    const float frac = v - static_cast<float>(i);
    if (frac >= 0.5f) ++i;
    if (frac <= -0.5f) --i;
    return i;
}

// The highest point splatted into a pixel keeps it ("hz >= stored" stores).
// Branch-free: with the floor's noise the comparison is unpredictable.
inline void splat(float* heights, int at, float hz) {
    heights[at] = std::max(heights[at], hz);
}

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

    // First the heights: every point raises its pixel and the eight around it.
    view.heights.fill(0.0f);
    float* heights = view.heights.data();
    const size_t pointCount = pointLen / kPointBytes;
    const uint8_t* p = pointBytes;
    for (size_t i = 0; i < pointCount; ++i, p += kPointBytes) {
        const float z = readF32le(p + 8);
        if (!(z <= heightRange)) continue;  // too high, or NaN
        const float hz = z > 0.0f ? z : 0.0f;
        const float vc = (readF32le(p + 4) - yMin) / sy;
        const float vr = (readF32le(p) - xMin) / sx;
        // Only points whose splat touches the picture (rounded position -1 to
        // the size); NaN fails too, so nothing out of int range is converted.
        if (!(vr > -1.5f && vr < kTopViewHeight + 0.5f && vc > -1.5f && vc < kTopViewWidth + 0.5f))
            continue;
        const int r = roundHalfAway(vr);
        const int c = roundHalfAway(vc);
        if (r >= 1 && r < kTopViewHeight - 1 && c >= 1 && c < kTopViewWidth - 1) {
            // The usual case: all nine pixels are inside.
            const int centre = r * kTopViewWidth + c;
            for (int off : kSplatOffsets) splat(heights, centre + off, hz);
            continue;
        }
        for (const auto& off : kSplat) {
            const int rr = r + off[0];
            const int cc = c + off[1];
            if (rr < 0 || rr >= kTopViewHeight || cc < 0 || cc >= kTopViewWidth) continue;
            splat(heights, rr * kTopViewWidth + cc, hz);
        }
    }

    // Then the colours. A pixel shows the colour of the last point that won
    // it, and that colour depends on the height alone, so it is the colour of
    // the pixel's final height; untouched pixels (height 0) get index 0, the
    // background.
    uint8_t* dst = view.pixels.data();
    for (int at = 0; at < kTopViewPixels; ++at, dst += 3) {
        int index = roundHalfAway(heights[at] * 1000.0f / indexStep);
        if (index > 255) index = 255;  // heightRange rounding cannot pass the top
        const BgrColour& colour = kJetTable[index];
        dst[0] = colour[0];
        dst[1] = colour[1];
        dst[2] = colour[2];
    }

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
