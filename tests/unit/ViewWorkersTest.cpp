// The 2D and readout workers fed through the dialog's frame copies, with
// their waits shortened.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <thread>

#include "RecordingControlSink.h"
#include "TraceCapture.h"
#include "core/ByteOrder.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/FrameDistributor.h"
#include "core/SharedState.h"
#include "core/ViewFrames.h"
#include "views/DrawMatToControl.h"
#include "views/JetTable.h"
#include "views/ReadoutWorker.h"
#include "views/TopViewWorker.h"
#include "views/ViewTiming.h"

namespace {

class Workers : public ::testing::Test {
protected:
    Workers() {
        viewTiming().topViewStartWaitMs = 0;
        viewTiming().pollMs = 1;
        viewTiming().drawSettleMs = 0;
        g_uiChinese = false;
    }
    ~Workers() override {
        frames.stop.request();
        if (worker.joinable()) worker.join();
        g_uiChinese = true;
    }

    void putObjects(std::initializer_list<ObjRecord> records, int count = -1) {
        std::lock_guard<std::mutex> lock(frames.m_objMutex);
        int i = 0;
        for (const ObjRecord& r : records) frames.m_objBuf[i++] = r;
        frames.m_objCount = count < 0 ? i : count;
        frames.m_objNew = 1;
    }

    static ObjRecord person(int index, float height) {
        ObjRecord r;
        r.index = index;
        r.kind = 0;
        r.area = 3;
        r.value = height;
        return r;
    }

    ViewFrames frames;
    RecordingControlSink sink{480, 320};
    TraceCapture trace;
    std::thread worker;
};

TEST_F(Workers, ReadoutListsAFrameThenShowsTheHeightThenClears) {
    worker = std::thread([&] { RunReadoutWorker(frames, sink); });
    ObjRecord bag;
    bag.kind = -1;
    bag.area = 2;
    bag.value = 0.5f;
    putObjects({person(4, 1.72f), bag, person(5, 1.80f)});
    ASSERT_TRUE(sink.waitForTexts(ids::kReadout, 3));
    const auto texts = sink.texts(ids::kReadout);
    EXPECT_EQ(texts[0],
              "[4][0][person],area[3],pos[0.00 0.00][0.00 0.00],hei[1.72]m\r\n"
              "[-1][obj],area[2],pos[0.00 0.00][0.00 0.00],v[0.500000]m3\r\n"
              "[5][0][person],area[3],pos[0.00 0.00][0.00 0.00],hei[1.80]m\r\n");
    // One vote each: the smaller height is dropped.
    EXPECT_EQ(texts[1], "output height[1.80]m    \n");
    EXPECT_EQ(texts[2], "");
}

TEST_F(Workers, ReadoutWithOnlyUnshownKindsStillEndsWithHeightZero) {
    worker = std::thread([&] { RunReadoutWorker(frames, sink); });
    ObjRecord blob;
    blob.kind = -2;
    putObjects({blob});
    ASSERT_TRUE(sink.waitForTexts(ids::kReadout, 2));
    EXPECT_EQ(sink.texts(ids::kReadout)[0], "");
    EXPECT_EQ(sink.texts(ids::kReadout)[1], "output height[0.00]m    \n");
}

TEST_F(Workers, ReadoutKeepsToTenRecordsWhateverTheCountSays) {
    worker = std::thread([&] { RunReadoutWorker(frames, sink); });
    putObjects(
        {person(1, 1.7f), person(2, 1.7f), person(3, 1.7f), person(4, 1.7f), person(5, 1.7f),
         person(6, 1.7f), person(7, 1.7f), person(8, 1.7f), person(9, 1.7f), person(10, 1.7f)},
        500);
    ASSERT_TRUE(sink.waitForTexts(ids::kReadout, 1));
    const std::string text = sink.texts(ids::kReadout)[0];
    size_t lines = 0;
    for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2))
        ++lines;
    EXPECT_EQ(lines, 10u);
}

TEST_F(Workers, TopViewWorkerStretchesEachNewFrameIntoControl1003) {
    sink.setSize(ids::kView2d, 600, 400);
    {
        std::lock_guard<std::mutex> lock(frames.m_areaMutex);
        frames.m_areas[0] = -0.38f, frames.m_areas[1] = -0.7f;
        frames.m_areas[2] = 0.38f, frames.m_areas[3] = 0.7f;
    }
    {
        // One point 2 m high in the middle of the passage.
        std::string points(12, '\0');
        uint8_t* p = reinterpret_cast<uint8_t*>(&points[0]);
        writeF32le(p, 0.0f);
        writeF32le(p + 4, 0.0f);
        writeF32le(p + 8, 2.0f);
        std::lock_guard<std::mutex> lock(frames.m_pointMutex);
        frames.m_pointData = std::make_shared<const std::string>(points);
    }
    worker = std::thread([&] { Run2DWorker(frames, sink); });
    frames.m_pointNew = 1;
    ASSERT_TRUE(sink.waitForImages(ids::kView2d, 1));
    EXPECT_EQ(frames.m_pointNew.load(), 0);
    const cv::Mat image = sink.lastImage(ids::kView2d);
    EXPECT_EQ(image.cols, 600);
    EXPECT_EQ(image.rows, 400);
    EXPECT_EQ(image.type(), CV_8UC3);
    // The point lands at row 79.5 -> 80, column 119.5 -> 120 of 160 x 240:
    // stretched 2.5 times, its 3 x 3 splat covers about (200, 300).
    const cv::Vec3b c = image.at<cv::Vec3b>(200, 300);
    EXPECT_EQ(c, cv::Vec3b(kJetTable[255][0], kJetTable[255][1], kJetTable[255][2]));
    EXPECT_NE(trace.out().find("open 2DStream\n"), std::string::npos);

    // The next raised flag gives the next picture.
    frames.m_pointNew = 1;
    ASSERT_TRUE(sink.waitForImages(ids::kView2d, 2));
}

TEST_F(Workers, TheDistributorStartsThe2DWorkerOnAFrameAndItsStopAtOnce) {
    // Looks of its own so rare that only the distributor's bell can explain
    // a prompt picture or a prompt end.
    struct RestorePoll {
        int ms = viewTiming().pollMs;
        ~RestorePoll() { viewTiming().pollMs = ms; }
    } restore;
    viewTiming().pollMs = 120000;
    SharedState state;
    std::thread distributor(RunFrameDistributor, std::ref(state), std::ref(frames));
    worker = std::thread([this] { Run2DWorker(frames, sink); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the worker waits
    std::string points(38400 * 12, '\0');                        // a frame of points at the origin
    const AreaBlock areas{-1.0f, -1.0f, 1.0f, 1.0f};
    state.StoreFrame(points, 0, nullptr, areas);
    EXPECT_TRUE(sink.waitForImages(ids::kView2d, 1));

    const auto before = std::chrono::steady_clock::now();
    frames.stopWorkers();
    distributor.join();
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(60));
}

TEST(DrawMatToControl, OnlyOneOrThreeChannelPicturesReachTheControl) {
    viewTiming().drawSettleMs = 0;
    RecordingControlSink sink(64, 48);
    DrawMatToControl(cv::Mat(10, 20, CV_8UC4, cv::Scalar::all(1)), sink, 7);
    DrawMatToControl(cv::Mat(10, 20, CV_16UC1, cv::Scalar::all(1)), sink, 7);
    EXPECT_EQ(sink.imageCount(7), 0);
    DrawMatToControl(cv::Mat(10, 20, CV_8UC1, cv::Scalar::all(77)), sink, 7);
    ASSERT_EQ(sink.imageCount(7), 1);
    const cv::Mat grey = sink.lastImage(7);
    EXPECT_EQ(grey.size(), cv::Size(64, 48));
    EXPECT_EQ(grey.at<uint8_t>(20, 30), 77);
    sink.setSize(8, 0, 0);
    DrawMatToControl(cv::Mat(10, 20, CV_8UC3), sink, 8);
    EXPECT_EQ(sink.imageCount(8), 0);
}

TEST(DrawMatToControl, ColourComesInTheLayoutTheSinkShows) {
    viewTiming().drawSettleMs = 0;
    cv::Mat picture(160, 240, CV_8UC3);
    cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(256));
    cv::Mat expected;
    cv::resize(picture, expected, cv::Size(640, 480), 0, 0, cv::INTER_LINEAR);
    for (const bool four : {false, true}) {
        RecordingControlSink sink(640, 480);
        sink.fourChannels = four;
        DrawMatToControl(picture, sink, 7);
        ASSERT_EQ(sink.imageCount(7), 1);
        cv::Mat wanted = expected;
        if (four) cv::cvtColor(expected, wanted, cv::COLOR_BGR2BGRA);
        const cv::Mat shown = sink.lastImage(7);
        ASSERT_EQ(shown.type(), wanted.type()) << four;
        EXPECT_EQ(cv::norm(shown, wanted, cv::NORM_INF), 0) << four;
    }
}

}  // namespace
