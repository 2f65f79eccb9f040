// The dialogs of the application flow, shown with Qt.
#pragma once

#include <string>

#include "app/KestToolsApp.h"
#include "app/Settings.h"

class SharedState;

class QtAppDialogs : public AppDialogs {
public:
    // The program uses the process-wide state and ./KestTools.ini.
    QtAppDialogs();
    QtAppDialogs(SharedState& state, std::string settingsPath);

    int RunLogOn(bool& chinese) override;
    void RunMainDialog() override;

private:
    SharedState& m_state;
    std::string m_settingsPath;
};
