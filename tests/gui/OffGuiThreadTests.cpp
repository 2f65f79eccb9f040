// Long steps of the window run off the GUI thread: a timer on the GUI thread
// keeps ticking while a large upgrade package is read and while a PLY file is
// written, with the boxes in the same order as when the window waited. The
// ticks are counted while the work is seen to run (not timed): a step that
// ran on the GUI thread would let none through.
#include <QAction>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "PackageFiles.h"
#include "TraceCapture.h"
#include "core/ByteOrder.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "maintenance/MaintenanceProtocol.h"
#include "platform/ScriptedPrompt.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CUpdateVersion.h"

namespace {

const std::string kUpinfo = "version=V7.0\r\nfiletype=1\r\ndate=2027-01-15\r\n";

// Bytes that deflate cannot shrink, so that a zip package is as large as its
// payload.
std::string noiseBytes(size_t size) {
    std::string bytes(size, '\0');
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (size_t i = 0; i < size; i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(&bytes[i], &x, std::min<size_t>(8, size - i));
    }
    return bytes;
}

// A timer that fires whenever the GUI thread's event loop runs, and a
// question asked at each tick.
class GuiTicks {
public:
    explicit GuiTicks(std::function<void()> onTick) : m_onTick(std::move(onTick)) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_onTick(); });
        m_timer.start();
    }

private:
    std::function<void()> m_onTick;
    QTimer m_timer;
};

TEST(OffGuiThread, ALargePackageIsReadWhileTheWindowTicks) {
    constexpr size_t kPayload = 32 << 20;
    TempDir dir;
    TraceCapture trace;
    g_uiChinese = true;
    const std::string tar = dir.file("big.tar");
    writeFile(tar, makeTar({{"upinfo.txt", kUpinfo}, {"app.bin", std::string(kPayload, 'A')}}));
    const std::string zip = dir.file("big.zip");
    ASSERT_TRUE(writeZip(zip, {{"app.bin", noiseBytes(kPayload)}, {"pkg/upinfo.txt", kUpinfo}}));

    for (const std::string& path : {tar, zip}) {
        ScriptedPrompt prompt;
        CUpdateVersion update(prompt);
        prompt.queueFile(path);
        int ticksWhileReading = 0;
        bool buttonsLocked = true;
        GuiTicks ticks([&] {
            if (!update.reading()) return;
            ++ticksWhileReading;
            buttonsLocked = buttonsLocked && !update.control(ids::kUpCancel)->isEnabled() &&
                            !update.control(ids::kChooseUpFile)->isEnabled();
            // The engineer presses on: nothing starts a second read or closes
            // the dialog underneath the first.
            update.OnChoose();
            update.OnCancel();
        });
        update.OnChoose();

        EXPECT_GT(ticksWhileReading, 0) << path;
        EXPECT_TRUE(buttonsLocked) << path;
        EXPECT_TRUE(update.control(ids::kUpSure)->isEnabled()) << path;
        EXPECT_EQ(prompt.fileTitles().size(), 1u) << path;
        EXPECT_EQ(update.result(), 0) << path << ": still open";
        const auto asked = prompt.asked();
        ASSERT_EQ(asked.size(), 1u) << path;
        EXPECT_EQ(asked[0].text, kUpinfo) << path;
        ASSERT_TRUE(update.choice().ready()) << path;
        EXPECT_EQ(update.choice().request().size(), kUpgradeHeaderSize + readFile(path).size())
            << path;
        EXPECT_EQ(update.choice().info().filetype, 1) << path;
    }
    EXPECT_EQ(trace.count("upinfo.txt  -->" + kUpinfo + "\n"), 2);
}

class ExportOffGui : public ::testing::Test {
protected:
    void SetUp() override {
        shortenShellWaits();
        g_uiChinese = false;
        dlg = std::make_unique<CKestToolsDlg>(state);
        dlg->setPrompt(&prompt);
        dlg->setProcessEnder([this](int) { ++ended; });
        // A full frame of the device (640 x 480 points), every point inside
        // the monitored box.
        std::string block(kPoints * 12, '\0');
        for (size_t i = 0; i < kPoints; ++i) {
            auto* p = reinterpret_cast<uint8_t*>(&block[i * 12]);
            writeF32le(p, static_cast<float>(i % 640) / 1000.0f);
            writeF32le(p + 4, static_cast<float>(i / 640) / 1000.0f);
            writeF32le(p + 8, static_cast<float>(i % 97) / 100.0f);
        }
        std::lock_guard<std::mutex> lock(dlg->frames().m_pointMutex);
        dlg->frames().m_pointData = std::make_shared<const std::string>(block);
        std::lock_guard<std::mutex> areaLock(dlg->frames().m_areaMutex);
        dlg->frames().m_areas[0] = -1.0f, dlg->frames().m_areas[1] = -1.0f;
        dlg->frames().m_areas[2] = 1.0f, dlg->frames().m_areas[3] = 1.0f;
    }
    void TearDown() override { g_uiChinese = true; }

    static constexpr size_t kPoints = 640 * 480;
    ScopedTimings timings;
    TempDir dir;
    TraceCapture trace;
    SharedState state;
    ScriptedPrompt prompt;
    std::unique_ptr<CKestToolsDlg> dlg;
    int ended = 0;
};

TEST_F(ExportOffGui, TheFileIsWrittenWhileTheWindowTicks) {
    struct Case {
        const char* name;
        bool closeMeanwhile;  // the window is closed while the file is written
    };
    const Case cases[] = {{"kept.ply", false}, {"closed.ply", true}};
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        prompt.queueFile(path);
        dlg->show();
        const size_t before = prompt.asked().size();
        int ticksWhileWriting = 0;
        GuiTicks ticks([&] {
            if (dlg->menuAction(ids::kCmdExportPly)->isEnabled()) return;
            ++ticksWhileWriting;
            dlg->OnCommand(ids::kCmdExportPly);  // a second export waits for the first
            if (c.closeMeanwhile && dlg->isVisible()) dlg->close();
        });
        dlg->OnCommand(ids::kCmdExportPly);

        EXPECT_GT(ticksWhileWriting, 0) << c.name;
        EXPECT_EQ(prompt.fileTitles().size(), c.closeMeanwhile ? 2u : 1u) << c.name;
        // The file is whole: as many vertices after the header as it says.
        const std::string file = readFile(path);
        const size_t countAt = file.find("element vertex ");
        ASSERT_NE(countAt, std::string::npos) << c.name;
        const long vertices = std::strtol(file.c_str() + countAt + 15, nullptr, 10);
        EXPECT_GT(vertices, 0) << c.name;
        EXPECT_EQ(file.size(), file.find("end_header\n") + 11 + vertices * 15) << c.name;
        EXPECT_EQ(
            trace.count("save cloud [" + path + "]: " + std::to_string(vertices) + " points\n"), 1)
            << c.name;
        const auto asked = prompt.asked();
        if (c.closeMeanwhile) {
            // The file is finished, the box of a window that is gone is not shown.
            EXPECT_EQ(asked.size(), before) << c.name;
            EXPECT_FALSE(dlg->isVisible());
        } else {
            ASSERT_EQ(asked.size(), before + 1) << c.name;
            EXPECT_EQ(asked.back().text, "cloud saved: " + path + "\n");
        }
        EXPECT_TRUE(dlg->menuAction(ids::kCmdExportPly)->isEnabled()) << c.name;
    }
    EXPECT_EQ(ended, 0);  // writing a file never ends the process
}

}  // namespace
