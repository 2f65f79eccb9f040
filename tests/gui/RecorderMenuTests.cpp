// The data recorder and algorithm display menus of the real main dialog
// (offscreen) against the simulated device: one recorder per start, files in
// the device's folder below the working directory, the box of a full disk,
// the access code boxes, and the close command stopping the display through
// the Escape key.
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <mutex>

#include "AlgorithmServer.h"
#include "CollectionServer.h"
#include "GuiTestSupport.h"
#include "RecordFileSizeLimit.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/ScriptedPrompt.h"
#include "stream/CollectionFormat.h"
#include "ui/CKestToolsDlg.h"

namespace {

using namespace std::chrono_literals;

class CountingWindow : public PictureWindow {
public:
    void show(const cv::Mat& picture) override {
        if (picture.rows == 640 && picture.cols == 640) ++shown;
    }
    std::atomic<int> shown{0};
};

// Runs the test in a temporary working directory (the settings file and the
// record folders are relative to it) with a dialog logged in at address.
class MenuTest : public ::testing::Test {
protected:
    ScopedTimings timings_;  // made before the waits are shortened, puts them back
    MenuTest() {
        shortenShellWaits();
        shellTiming().streamReceiveTimeoutMs = 3000;
        recorderTiming().reconnectWaitMs = 20;
        algViewTiming().reconnectWaitMs = 20;
        g_uiChinese = false;  // the boxes are Chinese in both languages
        g_appClosing = false;
        oldDir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir.file(""));
    }
    ~MenuTest() override {
        std::filesystem::current_path(oldDir_);
        g_uiChinese = true;
    }
    void logIn(const std::string& address) {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        state.deviceIp = address;
    }

    TempDir dir;
    TraceCapture trace;
    SharedState state;
    ScriptedPrompt prompt;

private:
    std::filesystem::path oldDir_;
};

TEST_F(MenuTest, RecorderStartsOnceAndWritesIntoTheDevicesFolder) {
    CollectionServerOptions o;
    o.address = "127.0.10.40";
    o.fps = 100;
    o.payloadBytes = 1000;
    CollectionServer server(o);
    ASSERT_TRUE(server.start());
    logIn("127.0.10.40");
    CKestToolsDlg dlg(state);
    dlg.setPrompt(&prompt);
    dlg.OnCommand(ids::kCmdDataCollectOpen);
    dlg.OnCommand(ids::kCmdDataCollectOpen);
    ASSERT_TRUE(pumpUntil([&] { return trace.count("time = ") >= 10; }));
    EXPECT_EQ(server.connectionsAccepted(), 1);
    dlg.OnCommand(ids::kCmdDataCollectClose);
    ASSERT_TRUE(pumpUntil([&] { return !dlg.m_record->m_recordRunning.load(); }));
    EXPECT_TRUE(prompt.asked().empty());
    // The next start is a new run with a new file.
    dlg.OnCommand(ids::kCmdDataCollectOpen);
    ASSERT_TRUE(pumpUntil([&] { return server.connectionsAccepted() == 2; }));
    const int before = trace.count("time = ");
    ASSERT_TRUE(pumpUntil([&] { return trace.count("time = ") > before; }));
    dlg.OnCommand(ids::kCmdDataCollectClose);
    ASSERT_TRUE(pumpUntil([&] { return !dlg.m_record->m_recordRunning.load(); }));

    size_t files = 0, records = 0;
    for (const auto& e : std::filesystem::directory_iterator("127.0.10.40")) {
        RecordFileContents c;
        ASSERT_TRUE(decodeRecordFile(readFile(e.path().string()), c));
        EXPECT_EQ(c.trailingBytes, 0u);
        ++files;
        records += c.records.size();
    }
    EXPECT_EQ(files, 2u);
    EXPECT_EQ(records, static_cast<size_t>(trace.count("time = ")));
}

// A record that cannot be written stops the recording by itself, and the
// dialog says why in a box, in the language of the interface.
TEST_F(MenuTest, AFullDiskStopsTheRecordingWithABox) {
    CollectionServerOptions o;
    o.address = "127.0.21.61";
    o.fps = 100;
    o.payloadBytes = 1000;
    CollectionServer server(o);
    ASSERT_TRUE(server.start());
    logIn("127.0.21.61");
    const struct {
        bool chinese;
        const char* head;
        const char* tail;
    } cases[] = {
        {false, "Writing the record file failed, recording stopped!\n./127.0.21.61/PointData",
         ".bin (File too large)\n3 records were kept."},
        {true, "写入文件失败，数据存储已停止！\n./127.0.21.61/PointData",
         ".bin (File too large)\n已保存 3 条记录。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chinese ? "Chinese" : "English");
        g_uiChinese = c.chinese;
        ScriptedPrompt boxes;
        CKestToolsDlg dlg(state);
        dlg.setPrompt(&boxes);
        {
            RecordFileSizeLimit limit(kRecordFileHeaderSize + 3 * (kRecordHeaderSize + 1000) + 100);
            ASSERT_TRUE(limit.active());
            dlg.OnCommand(ids::kCmdDataCollectOpen);
            ASSERT_TRUE(pumpUntil([&] { return !dlg.m_record->m_recordRunning.load(); }));
        }
        ASSERT_TRUE(pumpUntil([&] { return boxes.asked().size() == 1; }));
        const std::string text = boxes.asked()[0].text;
        EXPECT_EQ(text.rfind(c.head, 0), 0u) << text;
        ASSERT_GE(text.size(), std::string(c.tail).size());
        EXPECT_EQ(text.substr(text.size() - std::string(c.tail).size()), c.tail) << text;
        EXPECT_EQ(boxes.asked()[0].caption, "KestTools");
    }
}

TEST_F(MenuTest, AccessCodeCases) {
    const struct {
        const char* name;
        const char* settings;  // nullptr: no settings file
    } denied[] = {
        {"no settings file", nullptr},
        {"no key", "[Baseinfo]\nHisIp=1.2.3.4\n"},
        {"seven characters", "[Baseinfo]\nAlgShowPasswd=pqe7133\n"},
        {"wrong code", "[Baseinfo]\nAlgShowPasswd=pqe714\n"},
    };
    logIn("127.0.10.41");
    for (const auto& c : denied) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove("KestTools.ini");
        if (c.settings) writeFile("KestTools.ini", c.settings);
        ScriptedPrompt boxes;
        CKestToolsDlg dlg(state);
        dlg.setPrompt(&boxes);
        dlg.OnCommand(ids::kCmdAlgShowOpen);
        ASSERT_EQ(boxes.asked().size(), 1u);
        EXPECT_EQ(boxes.asked()[0].text, "不支持使用的功能！");
        EXPECT_EQ(boxes.asked()[0].caption, "KestTools");
        EXPECT_FALSE(dlg.m_algShow->m_algShowRunning.load());
    }
}

TEST_F(MenuTest, DisplayRunsOnceAndTheCloseCommandStopsIt) {
    AlgorithmServerOptions o;
    o.address = "127.0.10.42";
    o.fps = 50;
    AlgorithmServer server(o);
    ASSERT_TRUE(server.start());
    writeFile("KestTools.ini", "[Baseinfo]\r\nHisIp=127.0.10.42\r\nAlgShowPasswd=pqe713\r\n");
    logIn("127.0.10.42");
    CKestToolsDlg dlg(state);
    dlg.setPrompt(&prompt);
    auto window = std::make_shared<CountingWindow>();
    dlg.m_algWindow = window;
    dlg.OnCommand(ids::kCmdAlgShowOpen);
    ASSERT_TRUE(pumpUntil([&] { return window->shown >= 3; }));
    dlg.OnCommand(ids::kCmdAlgShowOpen);
    ASSERT_EQ(prompt.asked().size(), 1u);
    EXPECT_EQ(prompt.asked()[0].text, "算法显示正在进行！\n");
    EXPECT_EQ(server.connectionsAccepted(), 1);

    dlg.OnCommand(ids::kCmdAlgShowClose);
    ASSERT_TRUE(pumpUntil([&] { return !dlg.m_algShow->m_algShowRunning.load(); }));
    EXPECT_EQ(dlg.m_algShowStop.load(), 0);
    EXPECT_TRUE(trace.waitFor("算法服务器断开连接"));
}

}  // namespace
