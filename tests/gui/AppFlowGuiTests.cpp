// The whole application flow with the real dialogs: log in to a loopback
// device in English, the main dialog opens in English, closing it ends the run.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <regex>

#include "GuiTestSupport.h"
#include "LoopbackListener.h"
#include "StreamServer.h"
#include "TraceCapture.h"
#include "app/KestToolsApp.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/PictureView.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CLogOn.h"
#include "ui/IpAddressEdit.h"
#include "ui/QtAppDialogs.h"

namespace {

// Test addresses of this file: 127.0.1.60 and 127.0.1.63.
TEST(AppFlowGui, LoginInEnglishThenMainDialogUntilClosed) {
    ScopedTimings timings;
    shortenShellWaits();
    g_uiChinese = true;
    TraceCapture trace;
    TempDir dir;
    const std::string ini = dir.file("KestTools.ini");
    writeFile(ini, "[Baseinfo]\r\nHisIp=127.0.1.60\r\nAlgShowPasswd=0\r\n");
    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.1.60", kStreamPort));
    SharedState state;

    std::string mainButtonText;
    // Drives whichever dialog is modal: the login first, then the main window.
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* logOn = qobject_cast<CLogOn*>(modal)) {
            if (logOn->result() != 0) return;
            qobject_cast<QAbstractButton*>(logOn->control(ids::kRadioEnglish))->click();
            qobject_cast<QAbstractButton*>(logOn->control(ids::kLogin))->click();
        } else if (auto* main = qobject_cast<CKestToolsDlg*>(modal)) {
            mainButtonText = widgetText(main->control(ids::kOpenStream));
            main->close();
            driver.stop();
        }
    });
    driver.start();

    QtAppDialogs dialogs(state, ini);
    CKestToolsApp app(dialogs);
    EXPECT_FALSE(app.InitInstance());

    EXPECT_EQ(mainButtonText, "open stream");
    EXPECT_FALSE(g_uiChinese.load());
    EXPECT_TRUE(g_appClosing.load());
    EXPECT_TRUE(device.waitForAccepted(1));
    const std::string out = trace.out();
    EXPECT_TRUE(
        std::regex_search(out, std::regex("点击了2!\nconnect success!!!!\nstream SO_RCVBUF = "
                                          "\\d+\n连接服务器\\[127\\.0\\.1\\.60:58100\\]成功！"
                                          "\nrID = 1\n")))
        << out;
    EXPECT_EQ(readFile(ini), "[Baseinfo]\r\nHisIp=127.0.1.60\nAlgShowPasswd=0\r\n");
    g_uiChinese = true;
}

// The demo's path: the simulated device streams, the login connects, and the
// 2D view and the readout of the main window come alive.
TEST(AppFlowGui, LiveStreamReachesTheMainWindow) {
    ScopedTimings timings;
    shortenShellWaits();
    g_uiChinese = true;
    TraceCapture trace;
    TempDir dir;
    const std::string ini = dir.file("KestTools.ini");
    writeFile(ini, "[Baseinfo]\r\nHisIp=127.0.1.63\r\n");
    SimOptions options;
    options.address = "127.0.1.63";
    StreamServer device(options);
    ASSERT_TRUE(device.start());
    SharedState state;

    bool pictureShown = false;
    std::string readout;
    int ticks = 0;
    constexpr int kGiveUpTicks = 3000;  // the run ends even if no picture comes
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* logOn = qobject_cast<CLogOn*>(modal)) {
            if (logOn->result() == 0)
                qobject_cast<QAbstractButton*>(logOn->control(ids::kLogin))->click();
        } else if (auto* main = qobject_cast<CKestToolsDlg*>(modal)) {
            if (ticks++ == 0) {
                qobject_cast<QAbstractButton*>(main->control(ids::kOpenStream))->click();
                qobject_cast<QAbstractButton*>(main->control(ids::kOpenObjInfo))->click();
            }
            auto* view = dynamic_cast<PictureView*>(main->control(ids::kView2d));
            pictureShown = view && !view->picture().isNull();
            readout = qobject_cast<QPlainTextEdit*>(main->control(ids::kReadout))
                          ->toPlainText()
                          .toStdString();
            if ((pictureShown && !readout.empty()) || ticks > kGiveUpTicks) {
                saveSnapshot(*main, "main_zh_live.png");
                main->close();
                driver.stop();
            }
        }
    });
    driver.start();

    QtAppDialogs dialogs(state, ini);
    CKestToolsApp app(dialogs);
    app.InitInstance();
    device.stop();

    EXPECT_TRUE(pictureShown);
    EXPECT_FALSE(readout.empty());
    EXPECT_NE(trace.out().find("all area["), std::string::npos);
    EXPECT_NE(trace.out().find("rID = 1\n"), std::string::npos);
}

}  // namespace
