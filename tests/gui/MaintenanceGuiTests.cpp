// The maintenance menus of the main dialog (offscreen) against the simulated
// upgrade and file servers: the dialogs' confirm and cancel paths with
// scripted answers, the boxes of every status in both languages, the bytes
// the device logged, and the window staying live during an exchange.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "MaintenanceServer.h"
#include "PackageFiles.h"
#include "TraceCapture.h"
#include "app/KestToolsApp.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/ScriptedPrompt.h"
#include "ui/CDeviceSetDialogs.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CUpdateVersion.h"
#include "ui/CVersionShow.h"
#include "ui/IpAddressEdit.h"

namespace {

using namespace std::chrono_literals;

const std::string kUpinfo = "version=V3.0\r\nfiletype=1\r\ndate=2026-11-30\r\n";

std::string textOf(QWidget* w) {
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text().toStdString();
    return widgetText(w);
}

class MaintenanceGui : public ::testing::Test {
protected:
    void SetUp() override {
        shortenShellWaits();
        g_uiChinese = true;
        g_appClosing = false;
    }
    void TearDown() override {
        if (device) device->stop();
        g_uiChinese = true;
    }

    // The main dialog logged in at address, with a device that answers status.
    void open(const std::string& address, bool answer, int32_t status, bool chinese = true,
              uint64_t packageReadLimit = 0) {
        g_uiChinese = chinese;
        state.deviceIp = address;
        dlg = std::make_unique<CKestToolsDlg>(state);
        dlg->setPrompt(&prompt);
        MaintenanceServerOptions options;
        options.address = address;
        options.answer = answer;
        options.status = status;
        options.version = "4.5.6";
        options.date = "2026-11-30";
        options.packageReadLimit = packageReadLimit;
        device = std::make_unique<MaintenanceServer>(options);
        ASSERT_TRUE(device->start());
    }
    std::vector<std::string> boxes() const {
        std::vector<std::string> texts;
        for (const auto& a : prompt.asked()) texts.push_back(a.text);
        return texts;
    }
    std::string writePackage(const std::string& name, size_t payloadBytes = 100) {
        const std::string path = dir.file(name);
        writeFile(path,
                  makeTar({{"upinfo.txt", kUpinfo}, {"app.bin", std::string(payloadBytes, 'A')}}));
        return path;
    }

    ScopedTimings timings;  // first in, last out: the waits come back after the test
    TempDir dir;
    TraceCapture trace;
    SharedState state;
    ScriptedPrompt prompt;
    std::unique_ptr<MaintenanceServer> device;
    std::unique_ptr<CKestToolsDlg> dlg;
};

TEST_F(MaintenanceGui, UpgradeBoxesFollowTheDevicesStatus) {
    struct Case {
        bool chinese;
        int32_t status;
        const char* box;  // nullptr: no box after the confirmation
    };
    const Case cases[] = {
        {true, 0, "升级成功!\n"},
        {false, 0, "update success!\n"},
        {true, -1, "存在相同版本!\n"},
        {false, -1, "have the same version!\n"},
        {true, 3, nullptr},
    };
    int n = 60;
    for (const Case& c : cases) {
        open("127.0.8." + std::to_string(n++), true, c.status, c.chinese);
        const std::string package = writePackage("p.tar");
        prompt.queueFile(package);
        dlg->setDialogRunner([&](QDialog& d) {
            auto& update = dynamic_cast<CUpdateVersion&>(d);
            update.OnChoose();
            EXPECT_EQ(textOf(update.control(ids::kUpFilePath)), package);
            update.OnOK();
            return update.result();
        });
        const size_t before = prompt.asked().size();
        dlg->OnCommand(ids::kCmdUpdateFile);

        const auto texts = boxes();
        ASSERT_EQ(texts.size(), before + (c.box ? 2 : 1)) << c.status;
        EXPECT_EQ(texts[before], kUpinfo);
        if (c.box) {
            EXPECT_EQ(texts.back(), c.box);
            EXPECT_EQ(prompt.asked().back().caption, "KestTools");
        }
        ASSERT_TRUE(device->waitForRequests(1, 5000ms));
        const MaintenanceRequestLog logged = device->requests().front();
        EXPECT_EQ(logged.filename, "update.tar");
        EXPECT_EQ(logged.version, "V3.0");
        EXPECT_EQ(logged.packageReceived, readFile(package).size());
        EXPECT_NE(trace.out().find("准备更新版本！\n"), std::string::npos);
        device->stop();
    }
}

// A device that reads part of the package and answers 0 was not upgraded
// with it: the engineer must not read "success".
TEST_F(MaintenanceGui, PackageNotSentWholeShowsTheFailureBox) {
    const std::pair<bool, const char*> cases[] = {
        {true, "升级失败：升级文件未完整发送!\n"},
        {false, "update fail: the update file was not sent whole!\n"},
    };
    int n = 60;
    for (const auto& [chinese, box] : cases) {
        open("127.0.23." + std::to_string(n++), true, 0, chinese, 1 << 20);
        const std::string package = writePackage("big.tar", 16 << 20);
        prompt.queueFile(package);
        dlg->setDialogRunner([&](QDialog& d) {
            auto& update = dynamic_cast<CUpdateVersion&>(d);
            update.OnChoose();
            update.OnOK();
            return update.result();
        });
        dlg->OnCommand(ids::kCmdUpdateFile);
        ASSERT_FALSE(boxes().empty());
        EXPECT_EQ(boxes().back(), box);
        EXPECT_NE(trace.out().find("发送升级文件失败！\n"), std::string::npos);
        ASSERT_TRUE(device->waitForRequests(1, 5000ms));
        EXPECT_FALSE(device->requests().front().complete);
        device->stop();
    }
}

TEST_F(MaintenanceGui, UpgradeDialogCancelAndEarlyOkSendNothing) {
    open("127.0.8.70", true, 0);
    // OK before any package, then cancel after choosing one.
    const std::string package = writePackage("q.tar");
    int round = 0;
    dlg->setDialogRunner([&](QDialog& d) {
        auto& update = dynamic_cast<CUpdateVersion&>(d);
        if (round++ == 0) {
            update.OnOK();
        } else {
            prompt.queueFile(package);
            update.OnChoose();
            update.OnCancel();
        }
        return update.result();
    });
    dlg->OnCommand(ids::kCmdUpdateFile);
    dlg->OnCommand(ids::kCmdUpdateFile);
    EXPECT_EQ(boxes(), std::vector<std::string>{kUpinfo});  // only the confirmation
    EXPECT_FALSE(device->waitForRequests(1, 200ms));
}

TEST_F(MaintenanceGui, LargePackageShowsItsProgressWhileTheWindowLives) {
    shellTiming().streamReceiveTimeoutMs = 1500;  // the device stays silent
    open("127.0.8.71", false, 0);
    prompt.queueFile(writePackage("big.tar", 3 << 20));
    dlg->setDialogRunner([&](QDialog& d) {
        auto& update = dynamic_cast<CUpdateVersion&>(d);
        update.OnChoose();
        update.OnOK();
        return update.result();
    });
    bool sawProgress = false;
    bool menuDisabled = false;
    QTimer probe;
    probe.setInterval(50);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* progress = dlg->findChild<QProgressDialog*>();
        if (!progress || !progress->isVisible() || progress->value() < progress->maximum()) return;
        if (!sawProgress) saveSnapshot(*progress, "upgrade-progress.png");
        sawProgress = true;
        menuDisabled = !dlg->menuAction(ids::kCmdResetDevice)->isEnabled();
    });
    probe.start();
    dlg->OnCommand(ids::kCmdUpdateFile);
    probe.stop();
    EXPECT_TRUE(sawProgress) << "the events of the window ran during the transfer";
    EXPECT_TRUE(menuDisabled);
    EXPECT_TRUE(dlg->menuAction(ids::kCmdResetDevice)->isEnabled());
    EXPECT_EQ(trace.count("发送升级文件失败！\n"), 1);  // no status from a silent device
}

TEST_F(MaintenanceGui, VersionDialogAndItsBoxes) {
    open("127.0.8.72", true, 0, false);
    std::string shownTitle, shownVersion, shownDate, versionLabel;
    dlg->setDialogRunner([&](QDialog& d) {
        auto& show = dynamic_cast<CVersionShow&>(d);
        shownTitle = show.windowTitle().toStdString();
        shownVersion = textOf(show.control(ids::kVersionText));
        shownDate = textOf(show.control(ids::kDateText));
        versionLabel = textOf(show.control(ids::kVersionLabel));
        saveSnapshot(show, "version-show.png");
        return 0;
    });
    dlg->OnCommand(ids::kCmdGetVersion);
    EXPECT_EQ(shownTitle, "版本信息");  // Chinese in both languages
    EXPECT_EQ(versionLabel, "version:");
    EXPECT_EQ(shownVersion, "4.5.6");
    EXPECT_EQ(shownDate, "2026-11-30");
    EXPECT_TRUE(boxes().empty());
    EXPECT_NE(trace.out().find("获取当前版本！\n"), std::string::npos);

    device->setAnswer(true, -1);
    dlg->OnCommand(ids::kCmdGetVersion);
    device->stop();
    dlg->OnCommand(ids::kCmdGetVersion);
    EXPECT_EQ(boxes(), (std::vector<std::string>{"now is the initial version!\n",
                                                 "connect to update server fail!\n"}));
}

TEST_F(MaintenanceGui, BoxesWithoutAnExchange) {
    open("127.0.8.73", true, 0);
    dlg->OnCommand(ids::kCmdHisVersion);
    dlg->OnCommand(ids::kCmdRollback);
    dlg->OnCommand(ids::kCmdInterEvent);
    g_uiChinese = false;
    dlg->OnCommand(ids::kCmdRollback);
    dlg->OnCommand(ids::kCmdInterEvent);
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{"当前版本不支持该功能!\n", "当前版本不支持该功能!\n",
                                        "当前事件版本无需设置接口信息!\n", "not support!\n",
                                        "now event version not set inter info!\n"}));
    EXPECT_FALSE(device->waitForRequests(1, 100ms));
}

TEST_F(MaintenanceGui, RebootAndBackgroundBoxes) {
    struct Case {
        int command;
        bool chinese;
        int32_t status;
        const char* box;
    };
    const Case cases[] = {
        {ids::kCmdResetDevice, true, 0, "设备重启成功!\n"},
        {ids::kCmdResetDevice, false, -1, "device reboot fail!\n"},
        {ids::kCmdResetDevice, true, 2, nullptr},
        {ids::kCmdGenBackground, false, 0, "divice get backgroud pictrue success!\n"},
        {ids::kCmdGenBackground, true, -1, "设备加载背景图片失败!\n"},
    };
    int n = 74;
    for (const Case& c : cases) {
        open("127.0.8." + std::to_string(n++), true, c.status, c.chinese);
        const size_t before = prompt.asked().size();
        dlg->OnCommand(c.command);
        EXPECT_EQ(prompt.asked().size(), before + (c.box ? 1 : 0)) << c.status;
        if (c.box) {
            EXPECT_EQ(boxes().back(), c.box);
        }
        ASSERT_TRUE(device->waitForRequests(1, 5000ms));
        EXPECT_EQ(device->requests()[0].code, c.command == ids::kCmdResetDevice ? 1u : 5u);
        device->stop();
    }
}

TEST_F(MaintenanceGui, DeviceAddressDialogAsksUntilYes) {
    open("127.0.8.80", true, 0);
    std::vector<int> resultsAfterSure;
    dlg->setDialogRunner([&](QDialog& d) {
        auto& set = dynamic_cast<CSetSelfIp&>(d);
        EXPECT_EQ(set.windowTitle().toStdString(), "设备IP设置");
        saveSnapshot(set, "set-self-ip-zh.png");
        prompt.queueAnswer(kAnswerNo);
        set.OnSure();
        resultsAfterSure.push_back(set.result());  // still open
        prompt.queueAnswer(kAnswerYes);
        set.OnSure();  // the untouched control reads 0.0.0.0
        return set.result();
    });
    dlg->OnCommand(ids::kCmdSetDeviceIp);
    EXPECT_EQ(resultsAfterSure, std::vector<int>{0});
    const auto asked = prompt.asked();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].text, "是否确认IP设置");
    EXPECT_EQ(asked[0].caption, "提示");
    EXPECT_EQ(asked[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(asked[0].icon, PromptIcon::Question);
    EXPECT_EQ(asked[2].text, "设备IP设置成功!\n");
    ASSERT_TRUE(device->waitForRequests(1, 5000ms));
    EXPECT_EQ(device->requests()[0].text, "0.0.0.0");
    // The tool keeps the address it logged in with.
    EXPECT_EQ(deviceIpOf(state), "127.0.8.80");

    dlg->setDialogRunner([](QDialog& d) {
        dynamic_cast<CSetSelfIp&>(d).OnCancel();
        return d.result();
    });
    dlg->OnCommand(ids::kCmdSetDeviceIp);
    EXPECT_FALSE(device->waitForRequests(2, 200ms));
}

TEST_F(MaintenanceGui, InterfaceDialogSendsTheLeadingDigitsOfThePort) {
    struct Case {
        const char* port;
        uint32_t sent;
    };
    const Case cases[] = {{"9000abc", 9000}, {"", 0}, {"70000", 70000}};
    int n = 81;
    for (const Case& c : cases) {
        open("127.0.8." + std::to_string(n++), true, 0, false);
        dlg->setDialogRunner([&](QDialog& d) {
            auto& inter = dynamic_cast<CBaseInter&>(d);
            EXPECT_EQ(inter.windowTitle().toStdString(), "BaseInterSet");
            EXPECT_EQ(textOf(inter.control(ids::kSetPortLabel)), "PORT：");
            EXPECT_EQ(textOf(inter.control(ids::kSetSure)), "sure");
            inter.ipControl()->setAddress(10, 0, 0, 5);
            static_cast<QLineEdit*>(inter.control(ids::kSetPortEdit))->setText(c.port);
            if (c.sent == 9000) saveSnapshot(inter, "base-inter-en.png");
            prompt.queueAnswer(kAnswerYes);
            inter.OnSure();
            return inter.result();
        });
        dlg->OnCommand(ids::kCmdInterBasic);
        EXPECT_EQ(prompt.asked().back().text, "device inter info success!\n");
        ASSERT_TRUE(device->waitForRequests(1, 5000ms));
        EXPECT_EQ(device->requests()[0].text, "10.0.0.5");
        EXPECT_EQ(device->requests()[0].value, c.sent) << c.port;
        device->stop();
    }
    const auto asked = prompt.asked();
    EXPECT_EQ(asked[0].text, "is sure inter info");
    EXPECT_EQ(asked[0].caption, "prompt");
}

TEST_F(MaintenanceGui, UpdateDialogInBothLanguages) {
    for (bool chinese : {true, false}) {
        g_uiChinese = chinese;
        CUpdateVersion update(prompt);
        EXPECT_EQ(update.windowTitle().toStdString(), chinese ? "升级" : "Update");
        EXPECT_EQ(textOf(update.control(ids::kChooseUpFile)),
                  chinese ? "选择升级文件" : "choice up file!");
        EXPECT_EQ(textOf(update.control(ids::kUpCancel)), chinese ? "取消" : "cancle");
        EXPECT_EQ(update.size(), QSize(600, 400));
        saveSnapshot(update, chinese ? "update-version-zh.png" : "update-version-en.png");
    }
}

}  // namespace
