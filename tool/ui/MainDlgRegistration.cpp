// Menu command 32773 (打开点云配准) of the main dialog: starts a registration
// run, whose registration thread has the dialog run on the GUI thread and
// waits for it. The dialog runs its own event loop and blocks no other
// window: the main window's menus stay usable while it is open (a second
// start shows that a run is going on).
#include "ui/MainDlgRegistration.h"

#include <QPointer>
#include <mutex>

#include "core/SharedState.h"
#include "platform/GuiThread.h"
#include "platform/QtPrompt.h"
#include "registration/RegistrationRun.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CRegData.h"

namespace {

constexpr const char* kRunningMessage = "配准进程正在运行！\n";

// The device address as the client reads it when it starts. The tool's own
// state is read then; a dialog on a state of its own (tests) hands over a
// copy taken now.
std::function<std::string()> registrationAddressOf(SharedState& state) {
    if (&state == &SharedState::instance()) return currentDeviceIp;
    std::string address;
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        address = state.deviceIp;
    }
    return [address] { return address; };
}

}  // namespace

RegistrationUiHooks& registrationUiHooks() {
    static RegistrationUiHooks hooks;
    return hooks;
}

void CKestToolsDlg::OnPointRegistration() {
    RegistrationUiHooks& hooks = registrationUiHooks();
    RegistrationService& service = hooks.service ? *hooks.service : RegistrationService::instance();
    QPointer<CKestToolsDlg> owner(this);
    Prompt* prompt = hooks.prompt;
    const auto beforeModal = hooks.beforeModal;

    auto runDialog = [owner, prompt, beforeModal](std::vector<RegPoint> points, int width,
                                                  int height) {
        RegDialogOutcome outcome;
        // On the GUI thread on the registration thread's behalf; that thread
        // blocks here until the dialog has ended.
        runOnGuiThread([&] {
            CRegData dialog(owner.data());
            if (prompt) dialog.setPrompt(prompt);
            dialog.SetPointData(std::move(points), width, height);
            if (beforeModal) beforeModal(dialog);
            // The main window going away ends an open registration as cancelled.
            if (owner)
                QObject::connect(owner.data(), &QDialog::finished, &dialog, &QDialog::reject);
            if (dialog.DoModal() == 1) {
                outcome.ok = true;
                outcome.matrix = registrationMatrix();
                outcome.areas = dialog.areaSet();
            }
        });
        return outcome;
    };

    if (!service.Start(registrationAddressOf(m_state), runDialog)) {
        QtPrompt ownPrompt(this);
        Prompt& p = prompt ? *prompt : ownPrompt;
        p.messageBox(kRunningMessage, kAppTitle, PromptButtons::Ok, PromptIcon::None);
    }
}
