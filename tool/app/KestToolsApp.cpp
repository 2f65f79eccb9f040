#include "app/KestToolsApp.h"

#include "core/Flags.h"
#include "core/Trace.h"

bool CKestToolsApp::InitInstance() {
    // Trace lines go to the terminal the tool was started from, line by line.
    traceInit();

    bool chinese = true;
    const int rID = m_dialogs.RunLogOn(chinese);
    tracef("rID = %d\n", rID);
    if (rID == IDCANCEL) return false;

    // The language chosen at login holds for every later text.
    g_uiChinese = chinese;
    m_dialogs.RunMainDialog();
    return false;
}
