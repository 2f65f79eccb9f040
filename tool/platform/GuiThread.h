// Running a piece of GUI work (a modal dialog, a message box) on behalf of a
// worker thread: the GUI thread runs it and the worker blocks until it ends.
// The GUI thread must not be waiting for that worker meanwhile (for example
// joining it), or both wait for ever.
#pragma once

#include <functional>

// Runs work on the GUI thread and returns when it has finished; runs it at
// once when called on the GUI thread.
void runOnGuiThread(const std::function<void()>& work);
