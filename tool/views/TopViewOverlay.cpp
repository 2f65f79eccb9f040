// The drawing over the height map: detected objects, detection areas and the
// person count.
#include <opencv2/imgproc.hpp>
#include <string>

#include "core/Trace.h"
#include "views/TopView.h"

namespace {

const cv::Scalar kObjectColour(0, 255, 0);  // green (blue, green, red)
const cv::Scalar kAreaColour(255, 0, 0);    // blue
const cv::Scalar kBoxColour(255, 255, 255);
const cv::Scalar kTextColour(0, 0, 0);
constexpr int kRectThickness = 2;
constexpr double kLabelScale = 0.6;
constexpr int kLabelThickness = 2;
constexpr int kLabelOffsetX = 5;   // label origin right of the rectangle's left edge
constexpr int kLabelOffsetY = 20;  // label baseline below its top edge
// Whole area and detection areas 1..4; detection area 5 is not drawn.
constexpr int kDrawnAreaRects = 5;
constexpr double kCountScale = 0.3;
constexpr int kCountThickness = 1;
constexpr int kCountBoxMargin = 5;
constexpr int kObjectKindSkipped = -2;

}  // namespace

int DrawTopViewOverlay(cv::Mat& image, int objCount, const ObjRecord* records,
                       const TopViewRects& rects) {
    if (objCount > kMaxObjRecords) objCount = kMaxObjRecords;
    int persons = 0;
    int drawn = 0;
    for (int i = 0; i < objCount && drawn < rects.objectCount; ++i) {
        const ObjRecord& o = records[i];
        if (o.kind == kObjectKindSkipped) continue;
        const PixelRect& r = rects.objects[drawn++];
        tracef("[%d], [%d %d][%d %d]\n", i, r.left, r.top, r.right, r.bottom);
        cv::rectangle(image, cv::Rect(r.left, r.top, r.right - r.left, r.bottom - r.top),
                      kObjectColour, kRectThickness, cv::LINE_8);
        cv::putText(image, std::to_string(o.index),
                    cv::Point(r.left + kLabelOffsetX, r.top + kLabelOffsetY),
                    cv::FONT_HERSHEY_SIMPLEX, kLabelScale, kObjectColour, kLabelThickness,
                    cv::LINE_AA);
        if (o.kind >= 0) ++persons;
    }

    for (int k = 0; k < kDrawnAreaRects; ++k) {
        const PixelRect& r = rects.areas[k];
        cv::rectangle(image, cv::Rect(r.left, r.top, r.right - r.left, r.bottom - r.top),
                      kAreaColour, kRectThickness, cv::LINE_8);
    }

    const std::string text = "People: " + std::to_string(persons);
    int baseline = 0;
    const cv::Size size =
        cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, kCountScale, kCountThickness, &baseline);
    const int boxHeight = baseline + size.height + kCountBoxMargin;
    cv::rectangle(image,
                  cv::Rect(kCountBoxMargin, image.rows - boxHeight - kCountBoxMargin,
                           size.width + 2 * kCountBoxMargin, boxHeight),
                  kBoxColour, cv::FILLED, cv::LINE_8);
    // Origin: the box's left margin plus half of it, 10 pixels above the bottom.
    cv::putText(image, text,
                cv::Point(kCountBoxMargin + kCountBoxMargin, image.rows - 2 * kCountBoxMargin),
                cv::FONT_HERSHEY_SIMPLEX, kCountScale, kTextColour, kCountThickness, cv::LINE_AA);
    return persons;
}
