// Gate linkage and alarm panel commands of the main dialog: the alarm link
// (menu 32772 / 32795), the card-swipe buttons 1013 to 1015 and the panel's
// clear button 1016. The work is done by the tool's one gate console.
#include <QObject>
#include <QWidget>
#include <mutex>

#include "core/ControlIds.h"
#include "core/SharedState.h"
#include "gate/GateConsole.h"
#include "platform/QtControlSink.h"
#include "ui/CKestToolsDlg.h"

namespace {

// The alarm panel of one dialog as the gate console's refresher writes to it.
// It is a child of the panel widget, so it goes away with the dialog, and it
// detaches itself from the console first. The link itself runs on (the tool
// ends right after its main dialog).
class GatePanelBinding : public QObject {
public:
    explicit GatePanelBinding(QWidget* panel) : QObject(panel) {
        sink.addControl(ids::kAlarmPanel, panel, panel->width(), panel->height());
    }
    ~GatePanelBinding() override { gateConsole().detachPanel(sink); }

    QtControlSink sink;
};

GatePanelBinding& bindingOf(QWidget* panel) {
    // (findChild would need a meta-object of its own for this class.)
    for (QObject* child : panel->children())
        if (auto* binding = dynamic_cast<GatePanelBinding*>(child)) return *binding;
    return *new GatePanelBinding(panel);
}

// The address the dialog's device was logged in at. The tool's own state is
// read by the link thread when it starts; a dialog on a state of its own (tests)
// hands over a copy, since that state may go before the link thread reads it.
std::function<std::string()> deviceAddressOf(SharedState& state) {
    if (&state == &SharedState::instance()) return currentDeviceIp;
    std::string address;
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        address = state.deviceIp;
    }
    return [address] { return address; };
}

}  // namespace

void CKestToolsDlg::OnOpenAlarmLink() {
    openAlarmLink(gateConsole(), alarmLinkStarted, 1, bindingOf(control(ids::kAlarmPanel)).sink,
                  deviceAddressOf(m_state));
    ShowAlarmPanel(1);
}

void CKestToolsDlg::OnOpenAlarmReceive() {
    openAlarmLink(gateConsole(), alarmLinkStarted, 2, bindingOf(control(ids::kAlarmPanel)).sink,
                  deviceAddressOf(m_state));
    ShowAlarmPanel(1);
}

void CKestToolsDlg::OnForwardSwipe() {
    gateConsole().swipe(SwipeKind::Forward);
}

void CKestToolsDlg::OnReverseSwipe() {
    gateConsole().swipe(SwipeKind::Reverse);
}

void CKestToolsDlg::OnCancelSwipe() {
    gateConsole().swipe(SwipeKind::Cancel);
}

void CKestToolsDlg::OnClearAlarmDisplay() {
    gateConsole().clearDisplay(sink());
}
