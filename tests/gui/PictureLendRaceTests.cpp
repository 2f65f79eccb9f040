// Two drawers putting pictures into one control at once (the registration
// raw view's drawing thread and a step of the dialog, both on control 1030):
// each gets a picture of its own to draw into, so no picture is written by
// both and none on screen is a mix of the two.
#include <QCoreApplication>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <opencv2/core.hpp>
#include <set>
#include <thread>

#include "GuiTestSupport.h"
#include "platform/PictureView.h"
#include "platform/QtControlSink.h"

namespace {

constexpr int kControl = 1030;
constexpr int kRounds = 200;

// Two threads meet here every round, so that both have lent before either draws.
class Rendezvous {
public:
    void meet() {
        std::unique_lock<std::mutex> lock(mutex_);
        const int round = round_;
        if (++waiting_ == 2) {
            waiting_ = 0;
            ++round_;
            cond_.notify_all();
            return;
        }
        cond_.wait(lock, [&] { return round_ != round; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    int waiting_ = 0;
    int round_ = 0;
};

// True when every pixel of picture is (value, value, value).
bool uniform(const cv::Mat& picture, uint8_t value) {
    cv::Mat diff;
    cv::absdiff(picture, cv::Scalar(value, value, value, 255), diff);
    return cv::countNonZero(diff.reshape(1)) == 0;
}

TEST(PictureLendRace, TwoDrawersNeverShareAPicture) {
    PictureView view(QColor(0, 0, 0), nullptr);
    view.resize(48, 32);
    QtControlSink sink;
    sink.addControl(kControl, &view, 48, 32);
    const cv::Size size(48, 32);

    std::mutex mutex;
    std::set<const uint8_t*> beingDrawn;
    std::atomic<int> sharedLends{0}, tornPictures{0}, finished{0};
    Rendezvous rendezvous;
    auto drawer = [&](uint8_t shade) {
        for (int round = 0; round < kRounds; ++round) {
            cv::Mat lent = sink.lendPicture(kControl, size, CV_8UC4);
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!lent.empty() && !beingDrawn.insert(lent.data).second) ++sharedLends;
            }
            rendezvous.meet();  // both hold a picture now
            if (lent.empty()) {
                ++tornPictures;
                continue;
            }
            // Row by row, so that another writer has time to get in between.
            for (int row = 0; row < lent.rows; ++row)
                lent.row(row).setTo(cv::Scalar(shade, shade, shade, 255));
            if (!uniform(lent, shade)) ++tornPictures;
            {
                std::lock_guard<std::mutex> lock(mutex);
                beingDrawn.erase(lent.data);
            }
            sink.showImage(kControl, lent);
        }
        ++finished;
    };
    const std::array<uint8_t, 2> shades = {60, 200};
    std::thread first(drawer, shades[0]);
    std::thread second(drawer, shades[1]);

    // What the control shows meanwhile is always one drawer's picture whole.
    int mixedOnScreen = 0, looked = 0;
    while (finished.load() < 2) {
        QCoreApplication::processEvents();
        const QImage shown = view.picture();
        if (shown.isNull()) continue;
        ++looked;
        const cv::Mat pixels(shown.height(), shown.width(), CV_8UC4,
                             const_cast<uchar*>(shown.constBits()),
                             static_cast<size_t>(shown.bytesPerLine()));
        if (!uniform(pixels, shades[0]) && !uniform(pixels, shades[1])) ++mixedOnScreen;
    }
    first.join();
    second.join();
    QCoreApplication::processEvents();

    EXPECT_EQ(sharedLends.load(), 0) << "one picture lent to both drawers at once";
    EXPECT_EQ(tornPictures.load(), 0) << "a drawer's picture was written by the other";
    EXPECT_EQ(mixedOnScreen, 0) << "of " << looked << " pictures looked at";
    const QImage last = view.picture();
    ASSERT_FALSE(last.isNull());
    const cv::Mat pixels(last.height(), last.width(), CV_8UC4, const_cast<uchar*>(last.constBits()),
                         static_cast<size_t>(last.bytesPerLine()));
    EXPECT_TRUE(uniform(pixels, shades[0]) || uniform(pixels, shades[1]));
}

}  // namespace
