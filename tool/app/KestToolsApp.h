// The application object: console trace, the login dialog, then the main
// dialog; when the main dialog closes the program ends. The dialogs are
// reached through AppDialogs so that this flow stays free of the toolkit.
#pragma once

// Results of a modal dialog.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

class AppDialogs {
public:
    virtual ~AppDialogs() = default;
    // Runs the login dialog modally with its language preset to Chinese.
    // Returns IDOK or IDCANCEL; chinese receives the language chosen in it.
    virtual int RunLogOn(bool& chinese) = 0;
    // Runs the main dialog modally; returns when it has closed.
    virtual void RunMainDialog() = 0;
};

class CKestToolsApp {
public:
    explicit CKestToolsApp(AppDialogs& dialogs) : m_dialogs(dialogs) {}

    // The whole life of the program. Returns false: the process ends after it.
    bool InitInstance();

private:
    AppDialogs& m_dialogs;
};
