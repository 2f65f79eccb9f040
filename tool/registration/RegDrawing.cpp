#include "registration/RegDrawing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "core/Trace.h"
#include "views/JetTable.h"

namespace {

const cv::Scalar kRed(0, 0, 255);
// Dashes of the centre cross: 12 pixels drawn in every 20.
constexpr float kDashLength = 12.0f;
constexpr float kDashPeriod = 20.0f;
// Area labels: Hershey simplex at 0.8, two pixels thick.
constexpr double kLabelScale = 0.8;
constexpr int kLabelThickness = 2;
constexpr int kAreaLineThickness = 2;

// Point dumps: the longest number ("-3.4e38" in fixed notation with two
// decimals is 42 characters) and lines written per fwrite.
constexpr size_t kMaxNumberChars = 48;
constexpr size_t kMaxLineChars = 3 * (kMaxNumberChars + 1);
constexpr size_t kDumpChunkLines = 4096;

// The pixel and its eight neighbours, as (column, row) offsets.
constexpr int kSplat[9][2] = {{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                              {1, 0}, {-1, 1},  {0, 1},  {1, 1}};

// Index into the colour table for v in 0..range: roundf(v * 1000 / (range *
// 1000 / 255)), cut to 8 bits.
inline const BgrColour& colourOf(float v, float indexStep) {
    const int index = static_cast<int>(std::round(v * 1000.0f / indexStep)) & 0xFF;
    return kJetTable[index];
}

void putColour(uint8_t* px, const BgrColour& c) {
    px[0] = c[0];
    px[1] = c[1];
    px[2] = c[2];
}

void dashedLine(cv::Mat& image, cv::Point2f p, cv::Point2f q) {
    const cv::Point2f d = q - p;
    const float length = static_cast<float>(
        std::sqrt(static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y));
    if (length <= 1.0f) return;
    const cv::Point2f u = d / length;
    for (float t = 0.0f; t < length; t += kDashPeriod) {
        const cv::Point2f a = p + u * t;
        const cv::Point2f b = p + u * (t + std::min(kDashLength, length - t));
        cv::line(image, cv::Point(cvRound(a.x), cvRound(a.y)),
                 cv::Point(cvRound(b.x), cvRound(b.y)), kRed, 1, cv::LINE_AA);
    }
}

}  // namespace

cv::Mat RenderRawView(const std::vector<RegPoint>& raw, int width, int height) {
    if (width <= 0 || height <= 0) return cv::Mat();
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (raw.size() < count) return cv::Mat();
    cv::Mat image(height, width, CV_8UC3);
    const float indexStep = (kRawDepthRange - 0.0f) * 1000.0f / 255.0f;
    uint8_t* px = image.ptr<uint8_t>(0);
    for (size_t i = 0; i < count; ++i, px += 3) {
        float z = raw[i].z;
        if (!(z >= 0.0f)) z = 0.0f;  // NaN from a faulty device counts as 0
        if (z > kRawDepthRange) z = kRawDepthRange;
        putColour(px, colourOf(z, indexStep));
    }
    return image;
}

cv::Mat ProjectRegView(const std::vector<RegPoint>& floor, const RegViewWindow& w,
                       const RegAreaSet* areas, RegPixelRects* rects) {
    tracef("point_cloud.size() = %d ,xmin=%.02f,xmax=%.02f,ymin=%.02f,ymax=%.02f\n",
           static_cast<int>(floor.size()), static_cast<double>(w.x0), static_cast<double>(w.x1),
           static_cast<double>(w.y0), static_cast<double>(w.y1));
    if (w.empty()) {
        tracef("usefulpoint = %d\n", 0);
        return cv::Mat();
    }
    const int cols = w.cols;
    const int rows = w.rows;
    // Heights first: each point raises its pixel and the eight around it.
    std::vector<float> heights(static_cast<size_t>(cols) * static_cast<size_t>(rows), 0.0f);
    float* hb = heights.data();
    int useful = 0;
    for (const RegPoint& p : floor) {
        int column = 0, row = 0;
        float h = 0.0f;
        if (!MapPointToPixel(p, w, kRegHeightLimit, column, row, h)) continue;
        ++useful;
        if (column >= 1 && column < cols - 1 && row >= 1 && row < rows - 1) {
            // The usual case: all nine pixels are inside.
            float* centre = hb + static_cast<ptrdiff_t>(row) * cols + column;
            for (const auto& off : kSplat) {
                float& stored = centre[off[1] * cols + off[0]];
                stored = std::max(stored, h);
            }
            continue;
        }
        for (const auto& off : kSplat) {
            const int c = column + off[0];
            const int r = row + off[1];
            if (c < 0 || c >= cols || r < 0 || r >= rows) continue;
            float& stored = hb[static_cast<size_t>(r) * cols + c];
            stored = std::max(stored, h);
        }
    }
    // Then the colours. The colour that wins a pixel depends on the height
    // alone, so it is the colour of the pixel's final height; untouched
    // pixels (height 0) show entry 0, the background.
    cv::Mat image(rows, cols, CV_8UC3);
    const float indexStep = kRegHeightLimit * 1000.0f / 255.0f;
    uint8_t* px = image.ptr<uint8_t>(0);
    for (float h : heights) {
        putColour(px, colourOf(h, indexStep));
        px += 3;
    }
    if (areas && rects) {
        for (int k = 0; k <= 5; ++k) {
            const RegRect& a = (*areas)[k];
            (*rects)[k] = MapRect(a.x0, a.y0, a.x1, a.y1, w.x0, w.x1, w.y0, w.y1, cols, rows);
        }
    }
    tracef("usefulpoint = %d\n", useful);
    return image;
}

void DrawDashedCross(cv::Mat& image) {
    if (image.empty()) return;
    const int cols = image.cols;
    const int rows = image.rows;
    dashedLine(image, cv::Point2f(0.0f, static_cast<float>(rows / 2)),
               cv::Point2f(static_cast<float>(cols - 1), static_cast<float>(rows / 2)));
    dashedLine(image, cv::Point2f(static_cast<float>(cols / 2), 0.0f),
               cv::Point2f(static_cast<float>(cols / 2), static_cast<float>(rows - 1)));
}

void DrawRegAreas(cv::Mat& image, const RegPixelRects& rects, bool traceLabels) {
    if (image.empty()) return;
    for (int k = 1; k <= 5; ++k) {
        const PixelRect& r = rects[k];
        cv::rectangle(image, cv::Rect(r.left, r.top, r.right - r.left, r.bottom - r.top), kRed,
                      kAreaLineThickness, cv::LINE_8);
        const std::string label = std::to_string(k);
        int baseline = 0;
        const cv::Size size = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, kLabelScale,
                                              kLabelThickness, &baseline);
        const int cx = (r.left + r.right) / 2;
        const int cy = (r.top + r.bottom) / 2;
        cv::putText(image, label, cv::Point(cx - size.width / 2, cy + size.height / 2),
                    cv::FONT_HERSHEY_SIMPLEX, kLabelScale, kRed, kLabelThickness, cv::LINE_AA);
        if (traceLabels)
            tracef("[%d], [%d] [%d] - [%d %d] [%d %d] \n", k, cx, cy, r.left, r.right, r.top,
                   r.bottom);
    }
}

namespace {

// One "%.02f %.02f %.02f\n" line. std::to_chars with a precision writes what
// printf does in the C locale, several times faster.
char* appendLine(char* out, const RegPoint& p) {
    for (float v : {p.x, p.y, p.z}) {
        out = std::to_chars(out, out + kMaxNumberChars, static_cast<double>(v),
                            std::chars_format::fixed, 2)
                  .ptr;
        *out++ = ' ';
    }
    out[-1] = '\n';
    return out;
}

bool writeDump(const std::string& path, const std::vector<RegPoint>& points) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        // Nothing reads the dumps; the picture is drawn all the same.
        tracef("open %s failed!\n", path.c_str());
        return false;
    }
    std::vector<char> chunk(kDumpChunkLines * kMaxLineChars);
    bool ok = true;
    for (size_t i = 0; i < points.size() && ok;) {
        char* out = chunk.data();
        for (size_t n = 0; n < kDumpChunkLines && i < points.size(); ++n, ++i)
            out = appendLine(out, points[i]);
        const size_t size = static_cast<size_t>(out - chunk.data());
        ok = std::fwrite(chunk.data(), 1, size, f) == size;
    }
    ok = std::fclose(f) == 0 && ok;
    if (!ok) tracef("write %s failed!\n", path.c_str());
    return ok;
}

}  // namespace

bool WritePointDumps(const std::string& dir, const std::vector<RegPoint>& raw,
                     const std::vector<RegPoint>& floor) {
    const bool rawOk = writeDump(dir + "/ssfile.xyz", raw);
    const bool floorOk = writeDump(dir + "/dsfile.xyz", floor);
    return rawOk && floorOk;
}
