#include "views/DrawMatToControl.h"

#include <opencv2/imgproc.hpp>
#include <thread>

#include "core/ControlSink.h"
#include "views/BilinearStretch.h"
#include "views/ViewTiming.h"

void DrawMatToControl(const cv::Mat& image, ControlSink& sink, int controlId) {
    if (image.empty() || image.depth() != CV_8U) return;
    if (image.channels() != 1 && image.channels() != 3) return;
    int w = 0;
    int h = 0;
    sink.controlSize(controlId, w, h);
    // A control that is hidden or not laid out yet has no area to fill.
    if (w <= 0 || h <= 0) return;
    // One destination per drawing thread, reused from frame to frame: a sink
    // copies what it keeps before showImage returns.
    thread_local cv::Mat scaled;
    thread_local BilinearStretch stretch;
    const cv::Size size(w, h);
    if (BilinearStretch::handles(image, size))
        stretch.apply(image, scaled, size);  // the same bytes as cv::resize, in less time
    else
        cv::resize(image, scaled, size, 0, 0, cv::INTER_LINEAR);
    sink.showImage(controlId, scaled);
    std::this_thread::sleep_for(ViewTiming::ms(viewTiming().drawSettleMs));
}

void UseOneThreadForPictures() {
    // A 240 x 160 picture stretched to a control is far too small a job to
    // share out: waking and spinning the pool costs more than the work.
    cv::setNumThreads(1);
}
