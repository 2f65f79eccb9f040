// 数据采集 → 回放数据文件 in the real main dialog (offscreen): a recording
// opened through the file dialog plays into the 2D view with the player bar,
// its controls change the record shown, the live frames wait until the player
// is closed, refused paths give their box, and a replayed record looks
// exactly like the same points drawn live.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSlider>
#include <filesystem>

#include "GuiTestSupport.h"
#include "RecordFileBytes.h"
#include "TraceCapture.h"
#include "core/ByteOrder.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/PictureView.h"
#include "platform/ScriptedPrompt.h"
#include "ui/CKestToolsDlg.h"
#include "ui/ReplayBar.h"
#include "views/ReplayPlayer.h"
#include "views/StandardGateAreas.h"
#include "views/ViewTiming.h"

namespace {

constexpr int64_t kFirstStamp = 1741050307042;  // 2025-03-04 09:05:07_042 UTC+8

// count points on a line across the passage, shifted by offset metres along
// it, at heights from 0.9 m up: a picture that differs with offset.
std::string pointBytes(int count, float offset, size_t extraBytes = 0) {
    std::string bytes(static_cast<size_t>(count) * 12 + extraBytes, '\0');
    for (int i = 0; i < count; ++i) {
        auto* p = reinterpret_cast<uint8_t*>(&bytes[static_cast<size_t>(i) * 12]);
        writeF32le(p, -0.35f + 0.7f * static_cast<float>(i) / static_cast<float>(count));
        writeF32le(p + 4, -0.6f + offset + 0.002f * static_cast<float>(i % 50));
        writeF32le(p + 8, 0.9f + 0.001f * static_cast<float>(i % 900));
    }
    return bytes;
}

class ReplayGui : public ::testing::Test {
protected:
    ReplayGui() {
        shortenShellWaits();
        g_appClosing = false;
        savedStartWait_ = viewTiming().topViewStartWaitMs.load();
        viewTiming().topViewStartWaitMs = 0;
        dlg.setPrompt(&prompt);
    }
    ~ReplayGui() override {
        viewTiming().topViewStartWaitMs = savedStartWait_;
        g_uiChinese = true;
    }

    // Chooses path in the file dialog of the menu entry.
    void openThroughMenu(const std::string& path) {
        prompt.queueFile(path);
        dlg.menuAction(ids::kCmdReplayFile)->trigger();
    }
    std::string positionText() {
        return qobject_cast<QLabel*>(dlg.control(ids::kReplayPosition))->text().toStdString();
    }
    std::string shownBytes() {
        std::lock_guard<std::mutex> lock(dlg.frames().m_pointMutex);
        return pointBytesOf(dlg.frames().m_pointData);
    }
    QImage picture() { return dynamic_cast<PictureView*>(dlg.control(ids::kView2d))->picture(); }
    // Waits for the 2D view to show a picture other than before.
    QImage nextPicture(const QImage& before) {
        QImage now;
        EXPECT_TRUE(pumpUntil([&] {
            now = picture();
            return !now.isNull() && now != before;
        }));
        return now;
    }
    void click(int id) { qobject_cast<QAbstractButton*>(dlg.control(id))->click(); }
    void sendLive(std::string points, const AreaBlock& areas) {
        state.StoreFrame(points, 0, nullptr, areas);
    }

    ScopedTimings timings_;
    // The window is made in English.
    const bool english_ = (g_uiChinese = false, true);
    TempDir dir;
    TraceCapture trace;
    SharedState state;
    CKestToolsDlg dlg{state};
    ScriptedPrompt prompt;
    int savedStartWait_ = 0;
};

TEST_F(ReplayGui, TheMenuOpensARecordingAndTheBarMovesThroughIt) {
    const std::string path = dir.file("PointData20250304090507.bin");
    std::vector<std::string> records;
    std::string file = recordFileHeaderBytes();
    for (int i = 0; i < 5; ++i) {
        records.push_back(pointBytes(200, 0.1f * static_cast<float>(i)));
        file += recordBytes(kFirstStamp + 40 * i, records.back());
    }
    writeFile(path, file + recordHeaderBytes(kFirstStamp + 200, 460800).substr(0, 7));

    EXPECT_FALSE(dlg.control(ids::kReplayBar)->isVisibleTo(&dlg));
    openThroughMenu(path);
    EXPECT_EQ(prompt.fileTitles(), std::vector<std::string>{"replay file"});
    EXPECT_TRUE(prompt.asked().empty()) << "alone in its folder: no question";
    ASSERT_NE(dlg.replayPlayer(), nullptr);
    EXPECT_TRUE(dlg.control(ids::kReplayBar)->isVisibleTo(&dlg));
    EXPECT_NE(
        trace.out().find("replay: " + path + ": the last 7 bytes are a torn record, left out\n"),
        std::string::npos)
        << trace.out();
    // It plays by itself to the last record and stops there.
    ASSERT_TRUE(pumpUntil([&] {
        return positionText() == "2025-03-04 09:05:07_202  #5 / 5" &&
               widgetText(dlg.control(ids::kReplayPlay)) == "play";
    })) << positionText();
    auto* slider = qobject_cast<QSlider*>(dlg.control(ids::kReplaySlider));
    slider->setValue(0);
    ASSERT_TRUE(pumpUntil([&] { return positionText() == "2025-03-04 09:05:07_042  #1 / 5"; }))
        << positionText();
    ASSERT_TRUE(pumpUntil([&] { return shownBytes() == records[0]; }));
    auto* readout = qobject_cast<QPlainTextEdit*>(dlg.control(ids::kReadout));
    ASSERT_TRUE(pumpUntil([&] {
        return readout->toPlainText().trimmed().toStdString() ==
               "playing a recording (records hold no objects)";
    })) << readout->toPlainText().toStdString();
    ASSERT_TRUE(pumpUntil([&] { return !picture().isNull(); }));

    auto* speed = qobject_cast<QComboBox*>(dlg.control(ids::kReplaySpeed));
    EXPECT_EQ(slider->maximum(), 4);
    const struct {
        const char* what;
        std::function<void()> act;
        size_t record;
        const char* position;
    } steps[] = {
        {"forward", [&] { click(ids::kReplayForward); }, 1, "2025-03-04 09:05:07_082  #2 / 5"},
        {"forward", [&] { click(ids::kReplayForward); }, 2, "2025-03-04 09:05:07_122  #3 / 5"},
        {"back", [&] { click(ids::kReplayBack); }, 1, "2025-03-04 09:05:07_082  #2 / 5"},
        {"slider", [&] { slider->setValue(3); }, 3, "2025-03-04 09:05:07_162  #4 / 5"},
        {"slider to the start", [&] { slider->setValue(0); }, 0, "2025-03-04 09:05:07_042  #1 / 5"},
        {"x4 then play to the end",
         [&] {
             speed->setCurrentIndex(speed->findText("x4"));
             click(ids::kReplayPlay);
         },
         4, "2025-03-04 09:05:07_202  #5 / 5"},
    };
    for (const auto& c : steps) {
        c.act();
        ASSERT_TRUE(pumpUntil([&] { return positionText() == c.position; }))
            << c.what << ": " << positionText();
        EXPECT_EQ(slider->value(), static_cast<int>(c.record)) << c.what;
        EXPECT_TRUE(shownBytes() == records[c.record]) << c.what;
    }
    EXPECT_EQ(dlg.replayPlayer()->state().speed, 4.0);
    // 导出点云(PLY) saves the record on screen.
    const std::string ply = dir.file("record.ply");
    prompt.queueFile(ply);
    dlg.OnCommand(ids::kCmdExportPly);
    const std::string saved = readFile(ply);
    EXPECT_NE(saved.find("comment KestTools replayed record #5\n"), std::string::npos)
        << saved.substr(0, 200);
    EXPECT_NE(saved.find("element vertex 200\n"), std::string::npos) << saved.substr(0, 200);
    ASSERT_TRUE(pumpUntil([&] { return widgetText(dlg.control(ids::kReplayPlay)) == "play"; }))
        << "paused at the end";
    saveSnapshot(dlg, "main_en_replay.png");

    // A live frame waits while the recording plays ...
    AreaBlock live = standardGateAreas();
    sendLive("live", live);
    ASSERT_TRUE(trace.waitFor("all area["));  // written once the frame was handed on
    EXPECT_TRUE(shownBytes() == records[4]);
    // ... and is drawn again once the player is closed.
    click(ids::kReplayClose);
    EXPECT_EQ(dlg.replayPlayer(), nullptr);
    EXPECT_FALSE(dlg.control(ids::kReplayBar)->isVisibleTo(&dlg));
    sendLive("live again", live);
    ASSERT_TRUE(pumpUntil([&] { return shownBytes() == "live again"; }));
    ASSERT_TRUE(pumpUntil([&] { return readout->toPlainText().isEmpty(); }));
}

TEST_F(ReplayGui, AFolderPlaysWholeWhenTheEngineerSaysSo) {
    const std::string header = recordFileHeaderBytes();
    writeFile(dir.file("PointData1.bin"), header + recordBytes(kFirstStamp, "aaaaaaaaaaaa"));
    writeFile(dir.file("PointData2.bin"), header + recordBytes(kFirstStamp + 40, "bbbbbbbbbbbb") +
                                              recordBytes(kFirstStamp + 80, "cccccccccccc"));
    const struct {
        int answer;
        const char* chosen;
        size_t count;
        const char* first;
    } cases[] = {
        {kAnswerYes, "PointData2.bin", 3, "aaaaaaaaaaaa"},
        {kAnswerNo, "PointData2.bin", 2, "bbbbbbbbbbbb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer == kAnswerYes ? "yes" : "no");
        ScriptedPrompt boxes;
        dlg.setPrompt(&boxes);
        boxes.queueAnswer(c.answer);
        boxes.queueFile(dir.file(c.chosen));
        dlg.OnCommand(ids::kCmdReplayFile);
        ASSERT_EQ(boxes.asked().size(), 1u);
        EXPECT_EQ(boxes.asked()[0].buttons, PromptButtons::YesNo);
        ASSERT_NE(dlg.replayPlayer(), nullptr);
        EXPECT_EQ(dlg.replayPlayer()->state().count, c.count);
        ASSERT_TRUE(pumpUntil([&] { return shownBytes() == c.first; }));
    }
    dlg.setPrompt(&prompt);
}

TEST_F(ReplayGui, RefusedPathsGiveTheirBox) {
    writeFile(dir.file("notes.txt"), "not a recording at all, but long enough for a header......");
    std::filesystem::create_directory(dir.file("empty"));
    writeFile(dir.file("header-only.bin"), recordFileHeaderBytes() + "torn");
    const struct {
        bool chinese;
        std::string path;
        std::string box;
    } cases[] = {
        {false, dir.file("notes.txt"),
         "Not a record file:\n" + dir.file("notes.txt") +
             "\n(its header is not the header of a record file)"},
        {true, dir.file("notes.txt"),
         "不是数据记录文件：\n" + dir.file("notes.txt") + "\n（文件头不是数据记录文件的文件头）"},
        {false, dir.file("empty"), "No record file in the folder:\n" + dir.file("empty")},
        {true, dir.file("header-only.bin"), "没有一条完整的记录：\n" + dir.file("header-only.bin")},
        {false, dir.file("gone.bin"),
         "Cannot read:\n" + dir.file("gone.bin") +
             "\n(the file or folder cannot be opened or read)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        g_uiChinese = c.chinese;
        ScriptedPrompt boxes;
        dlg.setPrompt(&boxes);
        boxes.queueAnswer(kAnswerNo);  // only the chosen file, where asked
        boxes.queueFile(c.path);
        dlg.OnCommand(ids::kCmdReplayFile);
        ASSERT_FALSE(boxes.asked().empty());
        EXPECT_EQ(boxes.asked().back().text, c.box);
        EXPECT_EQ(boxes.asked().back().caption, "KestTools");
        EXPECT_EQ(dlg.replayPlayer(), nullptr);
        EXPECT_FALSE(dlg.control(ids::kReplayBar)->isVisibleTo(&dlg));
    }
    dlg.setPrompt(&prompt);
}

// The same points, replayed and then sent live within the same areas, give
// the same picture: a record without a device's areas is drawn within a
// standard gate's, and after a live frame within that frame's areas.
TEST_F(ReplayGui, AReplayedRecordLooksLikeTheSamePointsLive) {
    AreaBlock wide{};
    wide[0] = -0.5f, wide[1] = -1.0f, wide[2] = 0.5f, wide[3] = 1.0f;
    const struct {
        const char* what;
        bool liveFirst;
        AreaBlock areas;
        std::string points;
    } cases[] = {
        {"no live frame before: a standard gate", false, standardGateAreas(),
         pointBytes(5000, 0.05f)},
        {"after a live frame: its areas, a record of odd length", true, wide,
         pointBytes(3000, 0.2f, 7)},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("case" + std::to_string(n++) + ".bin");
        writeFile(path, recordFileHeaderBytes() + recordBytes(kFirstStamp, c.points));
        QImage before = picture();
        if (c.liveFirst) {
            sendLive(pointBytes(100, 0.6f), c.areas);
            before = nextPicture(before);
        }
        openThroughMenu(path);
        ASSERT_NE(dlg.replayPlayer(), nullptr);
        const QImage replayed = nextPicture(before);
        dlg.CloseReplay();
        sendLive(std::string(), c.areas);  // no points: a picture of its own
        const QImage empty = nextPicture(replayed);
        sendLive(c.points, c.areas);
        const QImage live = nextPicture(empty);
        EXPECT_TRUE(live == replayed);
        EXPECT_EQ(live.size(), QSize(640, 480));
    }
}

}  // namespace
