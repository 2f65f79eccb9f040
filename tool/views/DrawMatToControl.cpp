#include "views/DrawMatToControl.h"

#include <opencv2/imgproc.hpp>
#include <thread>

#include "core/ControlSink.h"
#include "views/BilinearStretch.h"
#include "views/ViewTiming.h"

namespace {

// image stretched bilinearly to size (the same bytes as cv::resize), with
// 255 added as a fourth byte of each pixel when toFour.
void stretchInto(const cv::Mat& image, cv::Mat& target, cv::Size size, bool toFour) {
    thread_local BilinearStretch stretch;
    if (toFour && BilinearStretch::handlesBgrx(image, size)) {
        stretch.applyToBgrx(image, target, size);  // one pass, no conversion after
    } else if (toFour) {
        thread_local cv::Mat stretched;
        cv::resize(image, stretched, size, 0, 0, cv::INTER_LINEAR);
        cv::cvtColor(stretched, target, cv::COLOR_BGR2BGRA);
    } else if (BilinearStretch::handles(image, size)) {
        stretch.apply(image, target, size);  // the same bytes as cv::resize, in less time
    } else {
        cv::resize(image, target, size, 0, 0, cv::INTER_LINEAR);
    }
}

}  // namespace

void DrawMatToControl(const cv::Mat& image, ControlSink& sink, int controlId) {
    if (image.empty() || image.depth() != CV_8U) return;
    if (image.channels() != 1 && image.channels() != 3) return;
    int w = 0;
    int h = 0;
    sink.controlSize(controlId, w, h);
    // A control that is hidden or not laid out yet has no area to fill.
    if (w <= 0 || h <= 0) return;
    const cv::Size size(w, h);
    // Colour goes straight into the layout the sink shows, and into a picture
    // it lends when it does: the stretch is then the only pass over it.
    const bool toFour = image.channels() == 3 && sink.prefersFourChannels();
    cv::Mat lent = sink.lendPicture(controlId, size, CV_8UC(toFour ? 4 : image.channels()));
    // Otherwise one destination per drawing thread, reused from frame to
    // frame: the sink copies what it keeps before showImage returns.
    thread_local cv::Mat scaled;
    cv::Mat& target = lent.empty() ? scaled : lent;
    stretchInto(image, target, size, toFour);
    sink.showImage(controlId, target);
    std::this_thread::sleep_for(ViewTiming::ms(viewTiming().drawSettleMs));
}

void UseOneThreadForPictures() {
    // A 240 x 160 picture stretched to a control is far too small a job to
    // share out: waking and spinning the pool costs more than the work.
    cv::setNumThreads(1);
}
