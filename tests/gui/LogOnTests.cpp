// The login dialog: address offered from the settings file, language switch,
// login against a loopback device, failure, and the ways to leave it.
#include <sys/socket.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "GuiTestSupport.h"
#include "LoopbackListener.h"
#include "TraceCapture.h"
#include "app/KestToolsApp.h"
#include "core/ControlIds.h"
#include "core/SharedState.h"
#include "ui/CLogOn.h"
#include "ui/DialogResources.h"
#include "ui/IpAddressEdit.h"
#include "ui/QtAppDialogs.h"

namespace {

// Test addresses of this file: 127.0.1.40 to 127.0.1.59.
class LogOnTest : public ::testing::Test {
protected:
    void SetUp() override { shortenShellWaits(); }
    ScopedTimings timings_;

    std::string shownAddress(CLogOn& dlg) {
        const auto b = dlg.ipControl()->address();
        return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
               "." + std::to_string(b[3]);
    }
    void setAddress(CLogOn& dlg, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
        dlg.ipControl()->setAddress(a, b, c, d);
    }

    TempDir dir;
};

TEST_F(LogOnTest, OffersDefaultOrRememberedAddress) {
    SharedState state;
    {
        CLogOn dlg(state, dir.file("missing.ini"));
        EXPECT_EQ(shownAddress(dlg), "192.168.1.221");
    }
    const std::string ini = dir.file("KestTools.ini");
    writeFile(ini, "[Baseinfo]\r\nHisIp=10.1.2.3\r\n");
    {
        CLogOn dlg(state, ini);
        EXPECT_EQ(shownAddress(dlg), "10.1.2.3");
        EXPECT_EQ(dlg.ipControl()->octet(3)->text().toStdString(), "3");
    }
    for (const char* bad : {"[Baseinfo]\r\nHisIp=word\r\n", "[Baseinfo]\r\nHisIp=\r\n",
                            "[Baseinfo]\r\nHisIp=1.2.3\r\n", "HisIp=10.1.2.3\r\n"}) {
        writeFile(ini, bad);
        CLogOn dlg(state, ini);
        EXPECT_EQ(shownAddress(dlg), "192.168.1.221") << bad;
    }
    writeFile(ini, "[Baseinfo]\r\nHisIp=266.1.2.3\r\n");
    CLogOn dlg(state, ini);
    EXPECT_EQ(shownAddress(dlg), "10.1.2.3") << "each number modulo 256";
}

TEST_F(LogOnTest, LayoutFollowsTheTable) {
    SharedState state;
    CLogOn dlg(state, dir.file("missing.ini"));
    EXPECT_EQ(dlg.size(), QSize(kLogOnWidth, kLogOnHeight));
    for (const ControlSpec& control : kLogOnControls) {
        QWidget* w = dlg.control(control.id);
        ASSERT_NE(w, nullptr) << control.id;
        EXPECT_EQ(w->geometry(), QRect(control.x, control.y, control.w, control.h)) << control.id;
    }
    auto* cn = qobject_cast<QAbstractButton*>(dlg.control(ids::kRadioChinese));
    auto* en = qobject_cast<QAbstractButton*>(dlg.control(ids::kRadioEnglish));
    EXPECT_TRUE(cn->isChecked());
    EXPECT_FALSE(en->isChecked());
    EXPECT_TRUE(dlg.m_chinese);
}

TEST_F(LogOnTest, LanguageSwitchSetsCaptionsAndTraces) {
    TraceCapture trace;
    SharedState state;
    CLogOn dlg(state, dir.file("missing.ini"));
    EXPECT_EQ(dlg.windowTitle().toStdString(), "登录");
    EXPECT_EQ(widgetText(dlg.control(ids::kIpLabel)), "I P:");
    EXPECT_EQ(widgetText(dlg.control(ids::kLogin)), "登录");
    EXPECT_EQ(widgetText(dlg.control(ids::kExit)), "退出");
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "未连接");
    EXPECT_EQ(widgetText(dlg.control(ids::kRadioChinese)), "中文");
    EXPECT_EQ(widgetText(dlg.control(ids::kRadioEnglish)), " E N");
    EXPECT_EQ(widgetText(dlg.control(ids::kLoginGroup)), "");

    qobject_cast<QAbstractButton*>(dlg.control(ids::kRadioEnglish))->click();
    EXPECT_EQ(trace.out(), "点击了2!\n");
    EXPECT_FALSE(dlg.m_chinese);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Login");
    EXPECT_EQ(widgetText(dlg.control(ids::kLogin)), "Login");
    EXPECT_EQ(widgetText(dlg.control(ids::kExit)), "Cancel");
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "Not Connect");
    EXPECT_EQ(widgetText(dlg.control(ids::kIpLabel)), "I P:");

    qobject_cast<QAbstractButton*>(dlg.control(ids::kRadioChinese))->click();
    EXPECT_EQ(trace.out(), "点击了2!\n点击了1!\n");
    EXPECT_TRUE(dlg.m_chinese);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "登录");
    EXPECT_EQ(widgetText(dlg.control(ids::kLogin)), "登录");
    EXPECT_EQ(widgetText(dlg.control(ids::kExit)), "退出");
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "未连接");
}

TEST_F(LogOnTest, SuccessfulLoginConnectsRemembersAndEndsWithOk) {
    TraceCapture trace;
    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.1.40", kStreamPort));
    const std::string ini = dir.file("KestTools.ini");
    writeFile(ini, "[Baseinfo]\r\nHisIp=192.168.1.221\r\nAlgShowPasswd=x\r\n");
    SharedState state;
    CLogOn dlg(state, ini);
    setAddress(dlg, 127, 0, 1, 40);

    qobject_cast<QAbstractButton*>(dlg.control(ids::kLogin))->click();

    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_TRUE(device.waitForAccepted(1));
    const std::string out = trace.out();
    const size_t ok = out.find("connect success!!!!\n");
    const size_t line = out.find("连接服务器[127.0.1.40:58100]成功！\n");
    ASSERT_NE(ok, std::string::npos) << out;
    ASSERT_NE(line, std::string::npos) << out;
    EXPECT_LT(ok, line);
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "连接服务器成功！");
    EXPECT_EQ(readFile(ini), "[Baseinfo]\r\nHisIp=127.0.1.40\nAlgShowPasswd=x\r\n");
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.deviceIp, "127.0.1.40");
        EXPECT_TRUE(state.receiverStarted);
    }
    EXPECT_GE(state.connState.load(), 0) << "connected once (the silent peer may time out)";
}

TEST_F(LogOnTest, EnglishLoginReportsInEnglish) {
    TraceCapture trace;
    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.1.41", kStreamPort));
    SharedState state;
    CLogOn dlg(state, dir.file("missing.ini"));
    dlg.OnEnglish();
    setAddress(dlg, 127, 0, 1, 41);
    dlg.OnLogin();
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_FALSE(dlg.m_chinese);
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "connect server success!!");
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.ini")))
        << "without a settings file the address is not remembered";
}

TEST_F(LogOnTest, RefusedLoginStaysOpenInBothLanguages) {
    TraceCapture trace;
    const std::string ini = dir.file("KestTools.ini");
    const std::string settings = "[Baseinfo]\r\nHisIp=10.0.0.9\r\n";
    writeFile(ini, settings);
    SharedState state;
    CLogOn dlg(state, ini);
    setAddress(dlg, 127, 0, 1, 42);

    dlg.OnLogin();
    EXPECT_EQ(dlg.result(), 0) << "the dialog has not ended";
    EXPECT_EQ(trace.out(), "connect fail!!!!\n连接服务器[127.0.1.42:58100]失败！\n");
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "连接服务器失败！");
    EXPECT_TRUE(dlg.control(ids::kLogin)->isEnabled()) << "ready for another attempt";
    EXPECT_EQ(readFile(ini), settings);

    dlg.OnEnglish();
    dlg.OnLogin();
    EXPECT_EQ(widgetText(dlg.control(ids::kStatus)), "connect server fail!!");
    EXPECT_EQ(state.connState.load(), -1);
}

TEST_F(LogOnTest, ClicksDuringThePauseAreDropped) {
    TraceCapture trace;
    SharedState state;
    CLogOn dlg(state, dir.file("missing.ini"));
    dlg.show();
    setAddress(dlg, 127, 0, 1, 43);
    // Clicks that are waiting in the queue while the failed attempt blocks the
    // dialog thread.
    QWidget* login = dlg.control(ids::kLogin);
    const QPointF centre(login->width() / 2.0, login->height() / 2.0);
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::postEvent(
            login, new QMouseEvent(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton,
                                   Qt::NoModifier));
        QCoreApplication::postEvent(
            login, new QMouseEvent(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton,
                                   Qt::NoModifier));
    }
    dlg.OnLogin();
    QCoreApplication::processEvents();
    EXPECT_EQ(trace.count("连接服务器[127.0.1.43:58100]失败！\n"), 1);

    // Once the pause is over a click is an attempt again.
    qobject_cast<QAbstractButton*>(login)->click();
    EXPECT_EQ(trace.count("连接服务器[127.0.1.43:58100]失败！\n"), 2);
}

TEST_F(LogOnTest, AfterAFailureAnotherAddressIsTriedAndTheSameOneGetsAFreshSocket) {
    TraceCapture trace;
    SharedState state;
    CLogOn dlg(state, dir.file("missing.ini"));
    setAddress(dlg, 127, 0, 1, 44);
    dlg.OnLogin();
    ASSERT_EQ(dlg.result(), 0);
    setAddress(dlg, 127, 0, 1, 46);
    dlg.OnLogin();
    ASSERT_EQ(dlg.result(), 0);

    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.1.46", kStreamPort));
    dlg.OnLogin();
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_TRUE(device.waitForAccepted(1));
    EXPECT_EQ(trace.count("connect fail!!!!\n"), 2);
    std::lock_guard<std::mutex> lock(state.streamMutex);
    EXPECT_EQ(state.deviceIp, "127.0.1.46");
}

TEST_F(LogOnTest, EscapeCloseBoxAndExitEndWithCancel) {
    SharedState state;
    const std::function<void(CLogOn&)> ways[] = {
        [](CLogOn& dlg) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&dlg, &escape);
            EXPECT_FALSE(dlg.isVisible());
        },
        [](CLogOn& dlg) { dlg.close(); },
        [](CLogOn& dlg) { qobject_cast<QAbstractButton*>(dlg.control(ids::kExit))->click(); },
    };
    for (const auto& leave : ways) {
        CLogOn dlg(state, dir.file("missing.ini"));
        dlg.show();
        leave(dlg);
        EXPECT_EQ(dlg.result(), IDCANCEL);
    }
    std::lock_guard<std::mutex> lock(state.streamMutex);
    EXPECT_FALSE(state.receiverStarted) << "leaving without an attempt starts nothing";
}

TEST_F(LogOnTest, ModalRunReturnsCancelOnEscape) {
    // The application's runner shows the dialog modally; Escape ends it.
    QTimer::singleShot(0, [] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modal, &escape);
    });
    SharedState state;
    QtAppDialogs dialogs(state, dir.file("missing.ini"));
    bool chinese = false;
    EXPECT_EQ(dialogs.RunLogOn(chinese), IDCANCEL);
    EXPECT_TRUE(chinese) << "the login dialog starts in Chinese";
}

TEST_F(LogOnTest, Snapshots) {
    SharedState state;
    CLogOn dlg(state, dir.file("missing.ini"));
    saveSnapshot(dlg, "login_zh.png");
    qobject_cast<QAbstractButton*>(dlg.control(ids::kRadioEnglish))->click();
    saveSnapshot(dlg, "login_en.png");
}

}  // namespace
