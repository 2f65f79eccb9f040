// KestTools: the field engineer's workstation tool for the passage-monitoring
// device. Reads ./KestTools.ini in its working directory. Its trace goes to
// the terminal and also into a rotating log file:
//
//   KestTools [--log PATH | --no-log]     (default log: ./KestTools.log)
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/KestToolsApp.h"
#include "app/ProcessExit.h"
#include "core/TraceLog.h"
#include "platform/StallProbe.h"
#include "ui/QtAppDialogs.h"
#include "ui/ScriptDriver.h"
#include "views/DrawMatToControl.h"

namespace {

// The log file named on the command line: "" when it is turned off. False
// (after a usage line) for arguments the tool does not know.
bool logPathFromArgs(int argc, char** argv, std::string& path) {
    path = kDefaultTraceLogPath;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-log") == 0) {
            path.clear();
        } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else {
            std::fprintf(stderr, "usage: KestTools [--log PATH | --no-log]\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    {
        QApplication app(argc, argv);  // takes the arguments that are Qt's own
        std::string logPath;
        if (!logPathFromArgs(argc, argv, logPath)) return 2;
        if (!logPath.empty()) openTraceLog(logPath);
        UseOneThreadForPictures();
        // KEST_STALL_LOG: how late the GUI thread runs, written until the end
        // of this scope. KEST_SCRIPT: steps a benchmark drives the tool with.
        const auto stallProbe = StallProbe::startFromEnvironment();
        // A close during a device exchange ends the process from inside the
        // main dialog: the summary is written then as well.
        if (stallProbe) setBeforeProcessEnd([probe = stallProbe.get()] { probe->finish(); });
        const auto script = startScriptFromEnvironment();
        QtAppDialogs dialogs;
        CKestToolsApp theApp(dialogs);
        theApp.InitInstance();
        setBeforeProcessEnd(nullptr);  // the probe ends with this scope
    }
    // The stream receiver, the recorder and the gate-linkage threads run until
    // the process ends: end it without running static destructors underneath
    // them, after closing the record files.
    EndProcess(0);
}
