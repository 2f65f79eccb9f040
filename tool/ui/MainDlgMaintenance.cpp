// Device maintenance commands of the main dialog: the menus 升级更新 (upgrade,
// version, and the two commands the device does not offer) and 设备配置
// (reboot, device address, external interface, background). Each exchange
// with the device runs off the GUI thread, so the live view keeps painting; a
// large package shows its progress. The boxes are the same as if the window
// had waited.
#include <QAction>
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

// Menu entries that start an exchange; disabled while one runs.
constexpr int kMaintenanceCommands[] = {ids::kCmdUpdateFile,  ids::kCmdGetVersion,
                                        ids::kCmdResetDevice, ids::kCmdSetDeviceIp,
                                        ids::kCmdInterBasic,  ids::kCmdGenBackground};

// Runs an upgrade off the GUI thread; a large package shows bytes sent of
// the total in a modal progress dialog meanwhile.
CommandResult upgradeWithProgress(QWidget* owner, const std::string& address,
                                  const Request& request) {
    CommandResult result;
    std::atomic<uint64_t> sent{0};
    const SendProgress progress = [&sent](uint64_t done, uint64_t) { sent = done; };
    if (request.size() <= kProgressAboveBytes) {
        runWhileResponsive([&] { result = runUpgrade(address, request, progress); });
        return result;
    }

    const double totalMb = static_cast<double>(request.size()) / (1 << 20);
    QProgressDialog dialog(owner);
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
        if (done < request.size())
            snprintfC(label, sizeof label, "%s %.1f / %.1f MB",
                      uiText("发送升级文件", "sending update file"),
                      static_cast<double>(done) / (1 << 20), totalMb);
        else
            std::snprintf(
                label, sizeof label, "%s",
                uiText("升级文件已发送，等待设备应答", "update file sent, waiting for the device"));
        dialog.setLabelText(QString::fromUtf8(label));
        dialog.setValue(static_cast<int>(done * kProgressSteps / request.size()));
    });
    refresh.start(kProgressRefreshMs);
    dialog.show();
    runWhileResponsive([&] { result = runUpgrade(address, request, progress); });
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
    const CommandResult result = upgradeWithProgress(this, deviceIpOf(m_state), request);
    setMaintenanceBusy(false);
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
