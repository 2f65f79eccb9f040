// A driver for benchmarks: when KEST_SCRIPT names a file, the tool runs
// through its steps as an engineer would, pressing the buttons of whatever
// window is open (login, main window, its dialogs, message boxes) and
// answering file dialogs. Off (nothing started) without the variable.
//
// One step a line; blank lines and lines starting with '#' are skipped:
//
//   sleep MS          wait MS milliseconds
//   command ID        the main window's command ID (menu item or button)
//   press TEXT        the enabled button captioned TEXT ('&' ignored);
//                     buttons of message boxes are looked at first
//   click X Y TITLE   the enabled button at client position X,Y of the window
//                     titled TITLE (for captions that repeat, like 确定)
//   file PATH         the open or save dialog on screen answers PATH
//   close TITLE       closes the window titled TITLE (a dialog without buttons)
//   mark NAME         writes "kest-script mark NAME <epoch ms>" to stderr
//   quit              closes the main window: the tool ends
//
// A step whose window or button is not there yet is tried again until it
// works; one that does not within the give-up time stops the script with
// "kest-script failed ..." on standard error, as does a step it cannot read.
// Every step runs from the event loop, also from inside the modal loop of
// the dialog or box that an earlier step opened.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

struct ScriptTiming {
    std::atomic<int> pollMs{20};        // between tries of a step
    std::atomic<int> giveUpMs{180000};  // a step that does not work by then fails
};
ScriptTiming& scriptTiming();

struct ScriptStep {
    enum Kind { Sleep, Command, Press, Click, File, Close, Mark, Quit } kind;
    int number = 0;    // ms of sleep, command id, x of click
    int y = 0;         // y of click
    std::string text;  // caption, title, path or mark name
};

// The steps of a script; false and the line at fault in error otherwise.
bool parseScript(const std::string& text, std::vector<ScriptStep>& steps, std::string& error);

class ScriptDriver;
// Starts the script KEST_SCRIPT names (nullptr when unset). Call on the GUI
// thread after the QApplication exists; keep the result until it ends.
std::shared_ptr<ScriptDriver> startScriptFromEnvironment();
// Starts steps on the GUI thread.
std::shared_ptr<ScriptDriver> startScript(std::vector<ScriptStep> steps);
