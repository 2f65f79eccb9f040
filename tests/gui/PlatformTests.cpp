// The Qt glue: pictures keep their colours on the way to a control, and a
// worker's prompt runs on the GUI thread while the worker waits.
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <opencv2/core.hpp>
#include <thread>

#include "GuiTestSupport.h"
#include "platform/GuiThread.h"
#include "platform/PictureView.h"
#include "platform/QtControlSink.h"
#include "platform/QtPrompt.h"

namespace {

TEST(QtControlSinkTest, PicturesKeepTheirColoursAndSize) {
    cv::Mat bgr(2, 3, CV_8UC3, cv::Scalar(255, 0, 0));  // blue
    bgr.at<cv::Vec3b>(1, 2) = cv::Vec3b(0, 0, 255);     // one red pixel
    const QImage colour = matToQImage(bgr);
    ASSERT_EQ(colour.size(), QSize(3, 2));
    EXPECT_EQ(colour.pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_EQ(colour.pixelColor(2, 1), QColor(255, 0, 0));

    cv::Mat grey(2, 2, CV_8UC1, cv::Scalar(7));
    grey.at<uint8_t>(1, 1) = 200;
    const QImage g = matToQImage(grey);
    EXPECT_EQ(qGray(g.pixel(0, 0)), 7);
    EXPECT_EQ(qGray(g.pixel(1, 1)), 200);
    grey.at<uint8_t>(0, 0) = 99;
    EXPECT_EQ(qGray(g.pixel(0, 0)), 7) << "a deep copy, independent of the worker's buffer";

    EXPECT_TRUE(matToQImage(cv::Mat(2, 2, CV_32FC1)).isNull());
    EXPECT_TRUE(matToQImage(cv::Mat()).isNull());
}

TEST(QtControlSinkTest, WorkerPictureArrivesThroughTheEventLoop) {
    QLabel label;
    QtControlSink sink;
    sink.addControl(1003, &label, 4, 3);
    int w = 0, h = 0;
    sink.controlSize(1003, w, h);
    EXPECT_EQ(QSize(w, h), QSize(4, 3));
    sink.controlSize(999, w, h);
    EXPECT_EQ(QSize(w, h), QSize(0, 0));

    std::thread worker([&] {
        sink.showImage(1003, cv::Mat(3, 4, CV_8UC3, cv::Scalar(0, 255, 0)));
        sink.setControlText(999, "nobody");  // unknown ids are ignored
    });
    worker.join();
    EXPECT_TRUE(label.pixmap(Qt::ReturnByValue).isNull());
    QCoreApplication::processEvents();
    const QImage shown = label.pixmap(Qt::ReturnByValue).toImage();
    ASSERT_EQ(shown.size(), QSize(4, 3));
    EXPECT_EQ(shown.pixelColor(3, 2), QColor(0, 255, 0));
}

TEST(PictureViewTest, ShowsWorkerPicturesCentredOnTheEmptyColour) {
    const QColor empty(64, 64, 64);
    PictureView view(empty, nullptr);
    view.resize(6, 4);
    QtControlSink sink;
    sink.addControl(1003, &view, 6, 4);
    struct Case {
        const char* what;
        cv::Mat picture;
        QColor centre, corner;
    };
    const Case cases[] = {
        {"three channels", cv::Mat(2, 4, CV_8UC3, cv::Scalar(0, 0, 255)), QColor(255, 0, 0), empty},
        {"blue-green-red-255", cv::Mat(4, 6, CV_8UC4, cv::Scalar(255, 0, 0, 255)),
         QColor(0, 0, 255), QColor(0, 0, 255)},
        {"a smaller one after a full one", cv::Mat(2, 2, CV_8UC1, cv::Scalar(9)), QColor(9, 9, 9),
         empty},
    };
    for (const Case& c : cases) {
        std::thread worker([&] { sink.showImage(1003, c.picture); });
        worker.join();
        QCoreApplication::processEvents();
        ASSERT_EQ(view.picture().size(), QSize(c.picture.cols, c.picture.rows)) << c.what;
        const QImage shown = view.grab().toImage();
        EXPECT_EQ(shown.pixelColor(2, 1), c.centre) << c.what;
        EXPECT_EQ(shown.pixelColor(3, 2), c.centre) << c.what;
        EXPECT_EQ(shown.pixelColor(0, 0), c.corner) << c.what;
        EXPECT_EQ(shown.pixelColor(5, 3), c.corner) << c.what;
    }
    view.clear();
    EXPECT_EQ(view.grab().toImage().pixelColor(2, 1), empty);
}

TEST(QtControlSinkTest, LentPicturesReachTheScreenUncopiedAndAreNeverDrawnOverThere) {
    PictureView view(QColor(0, 0, 0), nullptr);
    view.resize(4, 3);
    QtControlSink sink;
    sink.addControl(1003, &view, 4, 3);
    ASSERT_TRUE(sink.prefersFourChannels());
    EXPECT_TRUE(sink.lendPicture(1003, cv::Size(4, 3), CV_8UC3).empty())
        << "only the screen's layout";
    EXPECT_TRUE(sink.lendPicture(999, cv::Size(4, 3), CV_8UC4).empty());

    // Draws one picture into a lent buffer and shows it; returns the buffer.
    auto drawAndShow = [&](uint8_t value) {
        cv::Mat lent = sink.lendPicture(1003, cv::Size(4, 3), CV_8UC4);
        EXPECT_FALSE(lent.empty());
        lent.setTo(cv::Scalar(value, value, value, 255));
        std::thread worker([&] { sink.showImage(1003, lent); });
        worker.join();
        return lent.data;
    };
    const uint8_t* first = drawAndShow(10);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.picture().constBits(), first) << "shown without a copy";

    // While the first is on screen, the next picture goes elsewhere.
    const uint8_t* second = drawAndShow(20);
    EXPECT_NE(second, first);
    EXPECT_EQ(view.picture().pixelColor(0, 0), QColor(10, 10, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(view.picture().pixelColor(0, 0), QColor(20, 20, 20));

    // The first left the screen: it is lent again rather than a new one.
    EXPECT_EQ(drawAndShow(30), first);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.grab().toImage().pixelColor(1, 1), QColor(30, 30, 30));
}

TEST(QtControlSinkTest, LentRowsStartOnCacheLinesSoTheStretchCanStreamIntoThem) {
    QtControlSink sink;
    PictureView view(QColor(0, 0, 0), nullptr);
    sink.addControl(1003, &view, 640, 480);
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(333, 7), cv::Size(1, 1)}) {
        cv::Mat lent = sink.lendPicture(1003, size, CV_8UC4);
        ASSERT_EQ(lent.size(), size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(lent.data) % 64, 0u) << size;
        EXPECT_EQ(lent.step % 64, 0u) << size;
        // The whole picture is writable: the last pixel of the last row too.
        lent.at<cv::Vec4b>(size.height - 1, size.width - 1) = cv::Vec4b(1, 2, 3, 255);
        std::thread worker([&] { sink.showImage(1003, lent); });
        worker.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(view.picture().pixelColor(size.width - 1, size.height - 1), QColor(3, 2, 1))
            << size;
    }
}

// Counts the queued calls a widget receives.
class MetaCallCounter : public QObject {
public:
    int calls = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) ++calls;
        return false;
    }
};

TEST(QtControlSinkTest, ABusyGuiThreadGetsOnlyTheNewestPicture) {
    QLabel label;
    MetaCallCounter counter;
    label.installEventFilter(&counter);
    QtControlSink sink;
    sink.addControl(1003, &label, 4, 3);
    // The GUI thread takes no events while the worker hands over 50 pictures.
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) sink.showImage(1003, cv::Mat(3, 4, CV_8UC1, cv::Scalar(i)));
    });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.calls, 1) << "one hand-over waited, not one per picture";
    EXPECT_EQ(qGray(label.pixmap(Qt::ReturnByValue).toImage().pixel(0, 0)), 49);

    // The next picture is handed over again.
    sink.showImage(1003, cv::Mat(3, 4, CV_8UC1, cv::Scalar(200)));
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.calls, 2);
    EXPECT_EQ(qGray(label.pixmap(Qt::ReturnByValue).toImage().pixel(0, 0)), 200);
}

TEST(GuiThreadTest, WorkerPromptRunsOnTheGuiThread) {
    QWidget owner;
    QtPrompt prompt(&owner);
    // Answers the message box once it is up.
    QTimer answerer;
    answerer.setInterval(10);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(box->text().toStdString(), "升级成功");
            EXPECT_EQ(box->windowTitle().toStdString(), "KestTools");
            box->button(QMessageBox::No)->click();
        }
    });
    answerer.start();

    std::atomic<bool> ranOnGuiThread{false};
    std::atomic<int> answer{0};
    std::atomic<bool> finished{false};
    QEventLoop loop;
    std::thread worker([&] {
        runOnGuiThread([&] { ranOnGuiThread = QThread::currentThread() == qApp->thread(); });
        answer =
            prompt.messageBox("升级成功", "KestTools", PromptButtons::YesNo, PromptIcon::Question);
        finished = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    EXPECT_TRUE(finished.load());
    EXPECT_TRUE(ranOnGuiThread.load());
    EXPECT_EQ(answer.load(), kAnswerNo);
}

// While a box is up, a click on another top-level window reaches it only when
// the box blocks its owner alone (the registration dialog's swap question
// leaves the main window usable).
TEST(GuiThreadTest, PromptBlocksTheApplicationOrItsOwnerOnly) {
    const struct {
        QtPrompt::Blocks blocks;
        bool otherWindowTakesClicks;
    } cases[] = {{QtPrompt::Blocks::Application, false}, {QtPrompt::Blocks::OwnerOnly, true}};
    for (const auto& c : cases) {
        QWidget owner;
        QPushButton other("other");
        owner.show();
        other.show();
        ASSERT_TRUE(pumpUntil([&] { return other.windowHandle() && other.isVisible(); }));
        int otherClicks = 0;
        QObject::connect(&other, &QPushButton::clicked, [&] { ++otherClicks; });
        QtPrompt prompt(&owner, c.blocks);
        bool boxSeen = false;
        QTimer::singleShot(0, [&] {
            pumpUntil(
                [&] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); });
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            boxSeen = box != nullptr;
            QTest::mouseClick(other.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              other.rect().center());
            QCoreApplication::processEvents();
            if (box) box->button(QMessageBox::Ok)->click();
        });
        prompt.messageBox("?", "KestTools", PromptButtons::Ok, PromptIcon::Question);
        EXPECT_TRUE(boxSeen);
        EXPECT_EQ(otherClicks == 1, c.otherWindowTakesClicks) << static_cast<int>(c.blocks);
    }
}

}  // namespace
