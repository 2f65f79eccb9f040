// KestTools: the field engineer's workstation tool for the passage-monitoring
// device. Takes no arguments; reads ./KestTools.ini in its working directory.
#include <QApplication>

#include "app/KestToolsApp.h"
#include "app/ProcessExit.h"
#include "ui/QtAppDialogs.h"

int main(int argc, char** argv) {
    {
        QApplication app(argc, argv);
        QtAppDialogs dialogs;
        CKestToolsApp theApp(dialogs);
        theApp.InitInstance();
    }
    // The stream receiver, the recorder and the gate-linkage threads run until
    // the process ends: end it without running static destructors underneath
    // them, after closing the record files.
    EndProcess(0);
}
