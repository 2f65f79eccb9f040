// Device maintenance commands of the main dialog: the menus 升级更新 (upgrade,
// version, and the two commands the device does not offer) and 设备配置
// (reboot, device address, external interface, background). Each exchange
// with the device runs off the GUI thread, so the live view keeps painting; a
// large package shows its progress. The boxes are the same as if the window
// had waited.
//
// An exchange cannot be interrupted (a blocking connect, a receive up to its
// time-out), so closing the window during one ends the process at once
// instead of leaving it to show a late result with no window; while a
// package is on its way the engineer is asked first, as a device with half a
// package is in an unknown state.
#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <cstdio>

#include "app/KestToolsApp.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/NumberText.h"
#include "core/SharedState.h"
#include "core/Trace.h"
#include "maintenance/MaintenanceCommands.h"
#include "maintenance/MaintenanceMessages.h"
#include "maintenance/UpgradeChoice.h"
#include "platform/Prompt.h"
#include "platform/WhileResponsive.h"
#include "ui/CDeviceSetDialogs.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CUpdateVersion.h"
#include "ui/CVersionShow.h"

namespace {

// Packages above this size show a progress dialog while on the wire.
constexpr size_t kProgressAboveBytes = 1 << 20;
constexpr int kProgressRefreshMs = 100;
constexpr int kProgressSteps = 1000;

const BilingualText kCloseWhileSending = {
    "升级文件正在发送，现在关闭会使设备处于未知状态。\n确定要关闭吗？",
    "the update file is being sent: closing now leaves the device in an unknown state.\n"
    "close anyway?"};

// The progress of a large upgrade. It is modal to the window, so the
// window's close box does not reach the window meanwhile: closing the
// progress closes the window, which asks first. Escape does nothing.
class UpgradeProgressDialog : public QProgressDialog {
public:
    explicit UpgradeProgressDialog(QWidget* owner) : QProgressDialog(owner) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (QWidget* owner = parentWidget()) owner->close();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) return;
        QProgressDialog::keyPressEvent(event);
    }
};

// Menu entries that start an exchange; disabled while one runs.
constexpr int kMaintenanceCommands[] = {ids::kCmdUpdateFile,  ids::kCmdGetVersion,
                                        ids::kCmdResetDevice, ids::kCmdSetDeviceIp,
                                        ids::kCmdInterBasic,  ids::kCmdGenBackground};

// Runs an upgrade off the GUI thread; a large package shows bytes sent of
// the total in a modal progress dialog meanwhile. sending is true until the
// package has gone out whole or the exchange has ended. The request is freed
// on the exchange's thread too (hundreds of megabytes take a while to give
// back).
CommandResult upgradeWithProgress(QWidget* owner, const std::string& address, Request& request,
                                  std::atomic<bool>& sending) {
    CommandResult result;
    std::atomic<uint64_t> sent{0};
    const SendProgress progress = [&sent, &sending](uint64_t done, uint64_t all) {
        sent = done;
        if (done >= all) sending = false;
    };
    const uint64_t total = request.size();
    const auto exchange = [&] {
        result = runUpgrade(address, request, progress);
        Request().swap(request);
    };
    if (total <= kProgressAboveBytes) {
        runWhileResponsive(exchange);
        return result;
    }

    const double totalMb = static_cast<double>(total) / (1 << 20);
    UpgradeProgressDialog dialog(owner);
    dialog.setWindowTitle(QStringLiteral("KestTools"));
    dialog.setCancelButton(nullptr);  // a package cut short would leave the device half-written
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setRange(0, kProgressSteps);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &dialog, [&] {
        const uint64_t done = sent.load();
        char label[128];
        if (done < total)
            snprintfC(label, sizeof label, "%s %.1f / %.1f MB",
                      uiText("发送升级文件", "sending update file"),
                      static_cast<double>(done) / (1 << 20), totalMb);
        else
            std::snprintf(
                label, sizeof label, "%s",
                uiText("升级文件已发送，等待设备应答", "update file sent, waiting for the device"));
        dialog.setLabelText(QString::fromUtf8(label));
        dialog.setValue(static_cast<int>(done * kProgressSteps / total));
    });
    refresh.start(kProgressRefreshMs);
    dialog.show();
    runWhileResponsive(exchange);
    return result;
}

}  // namespace

void CKestToolsDlg::showBox(const char* text) {
    if (text) prompt().messageBox(text, kAppTitle, PromptButtons::Ok, PromptIcon::None);
}

void CKestToolsDlg::setMaintenanceBusy(bool busy) {
    m_maintenanceBusy = busy;
    for (int id : kMaintenanceCommands)
        if (QAction* action = menuAction(id)) action->setEnabled(!busy);
}

bool CKestToolsDlg::closeDuringWork() {
    if (m_maintenanceBusy) {
        if (m_upgradeSending &&
            prompt().messageBox(kCloseWhileSending.in(g_uiChinese), kAppTitle, PromptButtons::YesNo,
                                PromptIcon::Warning) != kAnswerYes)
            return false;
        m_closedDuringWork = true;
        tracef("window closed during a device command: the tool ends\n");
        m_processEnder(0);
        return true;
    }
    // A PLY file or the index of a recording is finished first (it takes
    // moments); only its box is left out.
    if (m_exportBusy || m_replayOpening) m_closedDuringWork = true;
    return true;
}

void CKestToolsDlg::OnUpdateFile() {
    if (m_maintenanceBusy) return;
    tracef("准备更新版本！\n");
    Request request;
    {
        CUpdateVersion dialog(prompt(), this);
        if (runModal(dialog) != IDOK) return;
        request = dialog.takeRequest();
    }
    setMaintenanceBusy(true);
    m_upgradeSending = true;
    const CommandResult result =
        upgradeWithProgress(this, deviceIpOf(m_state), request, m_upgradeSending);
    m_upgradeSending = false;
    setMaintenanceBusy(false);
    if (m_closedDuringWork) return;
    showBox(upgradeBoxText(result, g_uiChinese));
}

void CKestToolsDlg::OnGetVersion() {
    if (m_maintenanceBusy) return;
    tracef("获取当前版本！\n");
    const std::string address = deviceIpOf(m_state);
    UpInfo running;
    CommandResult result;
    setMaintenanceBusy(true);
    runWhileResponsive([&] { result = runGetVersion(address, running); });
    setMaintenanceBusy(false);
    if (m_closedDuringWork) return;
    if (const char* text = versionBoxText(result, g_uiChinese)) {
        showBox(text);
        return;
    }
    if (result.end != ExchangeEnd::Status || result.status != kStatusOk) return;
    CVersionShow show(upInfoText(running.version), upInfoText(running.date), this);
    runModal(show);
}

void CKestToolsDlg::OnGetHisVersion() {
    showBox(kNotSupportedText.in(g_uiChinese));
}

void CKestToolsDlg::OnRollbackVersion() {
    OnGetHisVersion();
}

// One file-server command with its prepared request, then its box.
void CKestToolsDlg::runFileServerCommand(FileCommand command, const Request& request) {
    const std::string address = deviceIpOf(m_state);
    CommandResult result;
    setMaintenanceBusy(true);
    runWhileResponsive([&] { result = runFileCommand(command, address, request); });
    setMaintenanceBusy(false);
    if (m_closedDuringWork) return;
    showBox(fileCommandBoxText(command, result, g_uiChinese));
}

void CKestToolsDlg::OnResetDevice() {
    if (m_maintenanceBusy) return;
    runFileServerCommand(FileCommand::Reboot, buildCodeRequest(kCmdReboot));
}

void CKestToolsDlg::OnSetDeviceIp() {
    if (m_maintenanceBusy) return;
    CSetSelfIp dialog(prompt(), this);
    if (runModal(dialog) != IDOK) return;
    runFileServerCommand(FileCommand::SetDeviceIp, buildSetDeviceIpRequest(dialog.m_address));
}

void CKestToolsDlg::OnInterBasic() {
    if (m_maintenanceBusy) return;
    CBaseInter dialog(prompt(), this);
    if (runModal(dialog) != IDOK) return;
    runFileServerCommand(FileCommand::SetInterface,
                         buildSetInterfaceRequest(dialog.m_address, dialog.m_port));
}

void CKestToolsDlg::OnInterEvent() {
    showBox(kNoInterfaceText.in(g_uiChinese));
}

void CKestToolsDlg::OnGenBackground() {
    if (m_maintenanceBusy) return;
    runFileServerCommand(FileCommand::GenerateBackground, buildCodeRequest(kCmdGenerateBackground));
}
