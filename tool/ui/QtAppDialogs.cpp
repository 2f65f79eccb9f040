#include "ui/QtAppDialogs.h"

#include "core/SharedState.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CLogOn.h"

QtAppDialogs::QtAppDialogs() : QtAppDialogs(SharedState::instance(), kSettingsPath) {}

QtAppDialogs::QtAppDialogs(SharedState& state, std::string settingsPath)
    : m_state(state), m_settingsPath(std::move(settingsPath)) {}

int QtAppDialogs::RunLogOn(bool& chinese) {
    CLogOn logOn(m_state, m_settingsPath);
    logOn.m_chinese = true;
    const int result = logOn.exec();
    chinese = logOn.m_chinese;
    return result;
}

void QtAppDialogs::RunMainDialog() {
    CKestToolsDlg dlg(m_state);
    dlg.exec();
}
