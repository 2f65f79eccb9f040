// Menu commands of the data recorder (数据采集: 32774 打开数据存储, 32790
// 关闭数据存储) and of the algorithm object display (算法目标显示: 32776
// 打开算法显示, 32789 关闭算法显示). Each feature has one worker at a time,
// started detached; it shares only its run state with the dialog. A recording
// that stops on its own (a record that cannot be written) says why in a box.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <memory>
#include <mutex>
#include <thread>

#include "app/Settings.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "core/StopFlag.h"
#include "platform/Prompt.h"
#include "ui/CKestToolsDlg.h"

namespace {

// The workers of the tool end with the process, never on a teardown request.
const StopFlag& processLifetime() {
    static const StopFlag* const never = new StopFlag();
    return *never;
}

}  // namespace

void CKestToolsDlg::OnDataCollectOpen() {
    // One recorder at a time; a second start does nothing.
    if (m_record->m_recordRunning.load()) return;
    m_record->m_recordRunning = true;
    // The thread may outlive the dialog: it hands a failure to the GUI thread,
    // which shows the box only while the dialog is still there.
    const QPointer<CKestToolsDlg> dialog(this);
    std::thread([control = m_record, ip = deviceIpOf(m_state), dialog] {
        const RecorderOutcome outcome =
            RunDataRecorder(*control, collectionClient(), ip, "./", processLifetime());
        if (outcome.stoppedByRequest) return;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(
            app,
            [dialog, outcome] {
                if (!dialog) return;
                dialog->prompt().messageBox(recorderFailureText(outcome, g_uiChinese), kAppTitle,
                                            PromptButtons::Ok, PromptIcon::None);
            },
            Qt::QueuedConnection);
    }).detach();
}

void CKestToolsDlg::OnDataCollectClose() {
    m_record->m_recordStop.exchange(1);
}

void CKestToolsDlg::OnAlgShowOpen() {
    // Both boxes are Chinese in either language.
    if (!AlgShowAccessGranted(GetAlgShowPasswd())) {
        prompt().messageBox("不支持使用的功能！", kAppTitle, PromptButtons::Ok, PromptIcon::None);
        return;
    }
    if (m_algShow->m_algShowRunning.load()) {
        prompt().messageBox("算法显示正在进行！\n", kAppTitle, PromptButtons::Ok, PromptIcon::None);
        return;
    }
    m_algShow->m_algShowRunning = true;
    std::shared_ptr<PictureWindow> window = m_algWindow;
    if (!window) window = std::make_shared<HighGuiPictureWindow>();
    std::thread([control = m_algShow, window, ip = deviceIpOf(m_state)] {
        RunAlgViewer(*control, ip, *window, processLifetime());
    }).detach();
}

void CKestToolsDlg::OnAlgShowClose() {
    // The same as the engineer pressing Escape in the main window: the key
    // handling raises the stop request.
    QCoreApplication::postEvent(this,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QCoreApplication::postEvent(this,
                                new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
}
