// The live picture on a real X display: pictures drawn into shared memory go
// to the server without Qt's backing store, and what the server then holds
// must be exactly the picture (read back from the server, not from Qt).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <opencv2/core.hpp>
#include <thread>

#include "GuiTestSupport.h"
#include "platform/PictureView.h"
#include "platform/QtControlSink.h"
#include "platform/ShmPresenter.h"

namespace {

// The window's pixels as the X server holds them.
QImage onServer(PictureView& view) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(view.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A picture with a different colour in every pixel, so a shifted or
// mirrored copy cannot pass.
void paintPattern(cv::Mat& picture) {
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x)
            picture.at<cv::Vec4b>(y, x) =
                cv::Vec4b(static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 3),
                          static_cast<uint8_t>(x ^ y), 255);
}

bool sameAsServer(PictureView& view, const QImage& expected, const QPoint& at) {
    const QImage server = onServer(view);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (server.pixel(at.x() + x, at.y() + y) != expected.pixel(x, y)) return false;
    return true;
}

}  // namespace

TEST(ScreenPicture, LentPicturesReachTheServerFromSharedMemoryExactly) {
    const QColor empty(64, 64, 64);
    PictureView view(empty, nullptr);
    view.resize(70, 50);
    ASSERT_TRUE(view.presenter()) << "the virtual display offers MIT-SHM";
    ASSERT_TRUE(view.showsDirectly());
    view.show();
    ASSERT_TRUE(pumpUntil([&] { return view.isVisible(); }));

    QtControlSink sink;
    sink.addControl(1003, &view, 70, 50);
    struct Case {
        const char* what;
        cv::Size size;
        QPoint at;  // where the centred picture lands
    };
    const Case cases[] = {
        {"whole control", cv::Size(70, 50), QPoint(0, 0)},
        {"smaller, centred, odd spare pixel right and below", cv::Size(41, 31), QPoint(14, 9)},
    };
    for (const Case& c : cases) {
        cv::Mat lent = sink.lendPicture(1003, c.size, CV_8UC4);
        ASSERT_FALSE(lent.empty()) << c.what;
        paintPattern(lent);
        std::thread worker([&] { sink.showImage(1003, lent); });
        worker.join();
        ASSERT_TRUE(pumpUntil([&] { return view.picture().constBits() == lent.data; })) << c.what;
        EXPECT_TRUE(view.presenter()->owns(view.picture())) << c.what << ": in shared memory";
        const QImage expected = view.picture().copy();
        EXPECT_TRUE(pumpUntil([&] { return sameAsServer(view, expected, c.at); })) << c.what;
        // Around a smaller picture, the empty colour.
        const QImage server = onServer(view);
        EXPECT_EQ(server.pixelColor(0, 0), c.at.isNull() ? expected.pixelColor(0, 0) : empty)
            << c.what;
        EXPECT_EQ(server.pixelColor(69, 49), c.at.isNull() ? expected.pixelColor(69, 49) : empty)
            << c.what;
        // A grab (the snapshots) renders the same picture through Qt.
        const QImage grabbed = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(grabbed.copy(QRect(c.at, expected.size())), expected) << c.what;
    }
}

TEST(ScreenPicture, TheWorkerPutsAPictureOfTheSameSizeItself) {
    PictureView view(QColor(0, 0, 0), nullptr);
    view.resize(30, 20);
    view.show();
    ASSERT_TRUE(pumpUntil([&] { return view.isVisible(); }));
    QtControlSink sink;
    sink.addControl(1003, &view, 30, 20);
    // Each step: a picture drawn on a worker, then whether it is on the
    // server before the GUI thread has run a single event.
    struct Step {
        const char* what;
        cv::Size size;
        bool byWorker;
    };
    const Step steps[] = {
        {"the first picture goes through the GUI thread", cv::Size(30, 20), false},
        {"the next of the same size is put by the worker", cv::Size(30, 20), true},
        {"and the next", cv::Size(30, 20), true},
        {"a new size goes through the GUI thread (the background changes)", cv::Size(20, 10),
         false},
        {"then the worker again", cv::Size(20, 10), true},
    };
    int shade = 0;
    for (const Step& step : steps) {
        cv::Mat lent = sink.lendPicture(1003, step.size, CV_8UC4);
        ASSERT_FALSE(lent.empty()) << step.what;
        paintPattern(lent);
        lent.at<cv::Vec4b>(0, 0) = cv::Vec4b(static_cast<uint8_t>(shade += 40), 0, 0, 255);
        std::thread worker([&] { sink.showImage(1003, lent); });
        worker.join();
        EXPECT_EQ(view.picture().constBits() == lent.data, step.byWorker) << step.what;
        ASSERT_TRUE(pumpUntil([&] { return view.picture().constBits() == lent.data; }))
            << step.what;
        view.presenter()->settle();
        const QImage expected = view.picture().copy();
        const QPoint at((30 - step.size.width) / 2, (20 - step.size.height) / 2);
        EXPECT_TRUE(sameAsServer(view, expected, at)) << step.what;
    }
    // Hidden, the control takes pictures through the GUI thread only.
    view.hide();
    cv::Mat lent = sink.lendPicture(1003, cv::Size(20, 10), CV_8UC4);
    std::thread worker([&] { sink.showImage(1003, lent); });
    worker.join();
    EXPECT_NE(view.picture().constBits(), lent.data);
    EXPECT_TRUE(pumpUntil([&] { return view.picture().constBits() == lent.data; }));
}

TEST(ScreenPicture, AControlHostingAWidgetIsPaintedByQt) {
    PictureView view(QColor(0, 0, 0), nullptr);
    ASSERT_TRUE(view.showsDirectly());
    auto* hosted = new QWidget(&view);  // as the 3D view over the right image area
    EXPECT_FALSE(view.showsDirectly());
    view.resize(8, 6);
    hosted->setGeometry(0, 0, 4, 6);
    view.show();
    QImage picture = PictureView::newPicture(view.presenter(), QSize(8, 6));
    picture.fill(qRgb(10, 200, 30));
    view.setPicture(picture);
    // Qt paints the picture where the hosted widget leaves it visible.
    EXPECT_TRUE(pumpUntil([&] { return onServer(view).pixel(6, 3) == picture.pixel(6, 3); }));
}

TEST(ScreenPicture, PicturesMadeElsewhereReachTheServerToo) {
    PictureView view(QColor(0, 0, 0), nullptr);
    view.resize(8, 6);
    view.show();
    ASSERT_TRUE(pumpUntil([&] { return view.isVisible(); }));
    // A grey picture converted on its own (not lent) is copied into shared
    // memory on its way to the server.
    QImage grey(8, 6, QImage::Format_Grayscale8);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) grey.scanLine(y)[x] = static_cast<uchar>(30 * y + x);
    view.setPicture(grey);
    const QImage expected = grey.convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(pumpUntil([&] { return sameAsServer(view, expected, QPoint(0, 0)); }));
    EXPECT_FALSE(view.presenter()->owns(grey));
}

namespace {
class PaintCounter : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};
}  // namespace

TEST(ScreenPicture, TheRestOfTheWindowKeepsRepaintingBesideADirectPicture) {
    QWidget window;
    window.resize(200, 100);
    auto* view = new PictureView(QColor(0, 0, 0), &window);
    view->setGeometry(0, 0, 100, 100);
    auto* sibling = new PaintCounter(&window);
    sibling->setGeometry(100, 0, 100, 100);
    window.show();
    ASSERT_TRUE(pumpUntil([&] { return sibling->paints > 0; }));
    ASSERT_TRUE(view->showsDirectly());
    // Every way a direct picture gets repainted: a new picture, and Qt's own
    // update of the control (a resize, an uncovered part).
    for (int round = 0; round < 3; ++round) {
        view->setPicture(PictureView::newPicture(view->presenter(), QSize(100, 100)));
        view->update();
        QCoreApplication::processEvents();
        const int before = sibling->paints;
        sibling->update();
        EXPECT_TRUE(pumpUntil([&] { return sibling->paints > before; }, std::chrono::seconds(2)))
            << "round " << round;
    }
}

// Run with --scale-factor=2 (its own CTest entry): the picture is then
// scaled by Qt, every pixel of it covering 2 x 2 on the server.
TEST(ScreenPicture, OnAScaledScreenQtPaintsThePictureScaled) {
    PictureView view(QColor(0, 0, 0), nullptr);
    if (view.devicePixelRatioF() != 2.0) GTEST_SKIP() << "needs --scale-factor=2";
    EXPECT_FALSE(view.showsDirectly());
    view.resize(8, 6);
    view.show();
    ASSERT_TRUE(pumpUntil([&] { return view.isVisible(); }));
    QImage picture = PictureView::newPicture(view.presenter(), QSize(8, 6));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) picture.setPixel(x, y, qRgb(30 * x, 40 * y, 200));
    view.setPicture(picture);
    EXPECT_TRUE(pumpUntil([&] {
        const QImage server = onServer(view);
        if (server.width() < 16 || server.height() < 12) return false;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                if (server.pixel(x, y) != picture.pixel(x / 2, y / 2)) return false;
        return true;
    }));
}
