// KestTools: the field engineer's workstation tool for the passage-monitoring
// device. Takes no arguments; reads ./KestTools.ini in its working directory.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/KestToolsApp.h"
#include "ui/QtAppDialogs.h"

int main(int argc, char** argv) {
    {
        QApplication app(argc, argv);
        QtAppDialogs dialogs;
        CKestToolsApp theApp(dialogs);
        theApp.InitInstance();
    }
    // The stream receiver (and later the gate-linkage threads) run until the
    // process ends and cannot be interrupted in a blocking receive; end the
    // process here without running static destructors underneath them.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}
