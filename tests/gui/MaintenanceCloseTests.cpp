// Closing the main window while a maintenance exchange runs (offscreen,
// against fake devices that take a request and answer when the test says).
// While a package is on its way the close asks first; any other close ends
// the process at once, and the exchange's late result is never shown. The
// process end goes through the window's seam, so the test process lives on.
#include <QAction>
#include <QProgressDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "LoopbackListener.h"
#include "PackageFiles.h"
#include "TraceCapture.h"
#include "core/ByteOrder.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "maintenance/UpInfo.h"
#include "platform/ScriptedPrompt.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CUpdateVersion.h"

namespace {

using namespace std::chrono_literals;

const std::string kUpinfo = "version=V8.0\r\nfiletype=1\r\n";
const std::string kCloseQuestion =
    "升级文件正在发送，现在关闭会使设备处于未知状态。\n确定要关闭吗？";

constexpr uint16_t kUpgradePort = 18888;
constexpr uint16_t kFilePort = 18889;

std::vector<uint8_t> statusBytes(int32_t status, bool withRecord) {
    std::vector<uint8_t> bytes(4);
    writeI32le(bytes.data(), status);
    if (withRecord) {
        UpInfo running;
        setUpInfoText(running.version, "9.9.9");
        const UpInfoBytes record = encodeUpInfo(running);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

class MaintenanceClose : public ::testing::Test {
protected:
    void SetUp() override {
        shortenShellWaits();
        // Long enough that the test, not the time-out, ends each exchange.
        shellTiming().streamReceiveTimeoutMs = 10000;
        g_uiChinese = true;
        g_appClosing = false;
    }

    void open(const std::string& address) {
        state.deviceIp = address;
        dlg.reset();
        prompt = std::make_unique<ScriptedPrompt>();
        dlg = std::make_unique<CKestToolsDlg>(state);
        dlg->setPrompt(prompt.get());
        dlg->setProcessEnder([this](int status) { endings.push_back(status); });
        dlg->setDialogRunner([this](QDialog& d) {
            ++dialogsRun;
            auto* update = dynamic_cast<CUpdateVersion*>(&d);
            if (!update) return 0;  // the version dialog
            update->OnChoose();
            update->OnOK();
            return update->result();
        });
        dlg->show();
    }
    std::vector<std::string> boxes() const {
        std::vector<std::string> texts;
        for (const auto& a : prompt->asked()) texts.push_back(a.text);
        return texts;
    }

    ScopedTimings timings;
    TempDir dir;
    TraceCapture trace;
    SharedState state;
    std::unique_ptr<ScriptedPrompt> prompt;
    std::unique_ptr<CKestToolsDlg> dlg;
    std::vector<int> endings;
    int dialogsRun = 0;
};

TEST_F(MaintenanceClose, ClosingDuringAnUpgradeSendAsksFirst) {
    struct Case {
        const char* address;
        int answer;
        bool viaProgress;  // the progress dialog's close box instead of the window's
    };
    const Case cases[] = {
        {"127.0.25.1", kAnswerNo, false},
        {"127.0.25.2", kAnswerYes, false},
        {"127.0.25.3", kAnswerNo, true},
    };
    // Larger than what the loopback buffers take: a device that does not
    // read keeps the package on its way.
    const std::string package = dir.file("big.tar");
    writeFile(package, makeTar({{"upinfo.txt", kUpinfo}, {"app.bin", std::string(64 << 20, 'P')}}));
    for (const Case& c : cases) {
        endings.clear();
        LoopbackListener device;  // accepts and never reads
        ASSERT_TRUE(device.start(c.address, kUpgradePort));
        open(c.address);
        prompt->queueFile(package);
        prompt->queueAnswer(kAnswerOk);  // the package's confirmation
        prompt->queueAnswer(c.answer);
        bool closed = false;
        bool visibleAfterClose = false;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            auto* progress = dlg->findChild<QProgressDialog*>();
            if (closed || !progress || !progress->isVisible() || device.acceptedCount() < 1) return;
            closed = true;
            if (c.viaProgress)
                progress->close();
            else
                dlg->close();
            visibleAfterClose = dlg->isVisible();
            device.closeClients();  // the send fails now, the exchange ends
        });
        probe.start();
        dlg->OnCommand(ids::kCmdUpdateFile);
        probe.stop();

        ASSERT_TRUE(closed) << c.address;
        std::vector<std::string> expected = {kUpinfo, kCloseQuestion};
        const auto asked = prompt->asked();
        ASSERT_GE(asked.size(), 2u) << c.address;
        EXPECT_EQ(asked[1].buttons, PromptButtons::YesNo);
        if (c.answer == kAnswerNo) {
            // The window stays and shows the upgrade's result as before.
            EXPECT_TRUE(visibleAfterClose) << c.address;
            EXPECT_TRUE(endings.empty()) << c.address;
            expected.push_back("升级失败：升级文件未完整发送!\n");
        } else {
            EXPECT_EQ(endings, std::vector<int>{0}) << c.address;
        }
        EXPECT_EQ(boxes(), expected) << c.address;
        device.stop();
    }
}

TEST_F(MaintenanceClose, ClosingDuringAnyOtherExchangeEndsWithoutItsResult) {
    struct Case {
        const char* address;
        int command;
        uint16_t port;
        std::vector<uint8_t> answer;  // what the device sends after the close
    };
    const Case cases[] = {
        {"127.0.25.10", ids::kCmdGetVersion, kUpgradePort, statusBytes(-1, false)},  // a box
        {"127.0.25.11", ids::kCmdGetVersion, kUpgradePort, statusBytes(0, true)},    // the dialog
        {"127.0.25.12", ids::kCmdResetDevice, kFilePort, statusBytes(0, false)},     // a box
    };
    for (const Case& c : cases) {
        endings.clear();
        dialogsRun = 0;
        LoopbackListener upgradeServer, fileServer;
        ASSERT_TRUE(upgradeServer.start(c.address, kUpgradePort));
        ASSERT_TRUE(fileServer.start(c.address, kFilePort));
        LoopbackListener& device = c.port == kUpgradePort ? upgradeServer : fileServer;
        open(c.address);
        bool closed = false;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (closed || device.acceptedCount() < 1) return;
            closed = true;
            // A second command while one runs starts nothing.
            for (int other : {ids::kCmdGetVersion, ids::kCmdResetDevice, ids::kCmdUpdateFile,
                              ids::kCmdGenBackground})
                dlg->OnCommand(other);
            dlg->close();
            device.sendToLatest(c.answer);
        });
        probe.start();
        dlg->OnCommand(c.command);
        probe.stop();

        ASSERT_TRUE(closed) << c.address;
        EXPECT_EQ(endings, std::vector<int>{0}) << c.address;
        EXPECT_TRUE(boxes().empty()) << c.address;
        EXPECT_EQ(dialogsRun, 0) << c.address;
        EXPECT_EQ(upgradeServer.acceptedCount() + fileServer.acceptedCount(), 1) << c.address;
        upgradeServer.stop();
        fileServer.stop();
    }
    EXPECT_EQ(trace.count("window closed during a device command: the tool ends\n"), 3);
}

}  // namespace
