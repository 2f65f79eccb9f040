#include "views/DrawMatToControl.h"

#include <opencv2/imgproc.hpp>
#include <thread>

#include "core/ControlSink.h"
#include "views/ViewTiming.h"

void DrawMatToControl(const cv::Mat& image, ControlSink& sink, int controlId) {
    if (image.empty() || image.depth() != CV_8U) return;
    if (image.channels() != 1 && image.channels() != 3) return;
    int w = 0;
    int h = 0;
    sink.controlSize(controlId, w, h);
    // A control that is hidden or not laid out yet has no area to fill.
    if (w <= 0 || h <= 0) return;
    // A fresh picture each time: the sink may hand it to the GUI thread.
    cv::Mat scaled;
    cv::resize(image, scaled, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    sink.showImage(controlId, scaled);
    std::this_thread::sleep_for(ViewTiming::ms(viewTiming().drawSettleMs));
}
