// Console output of the library. Lines from the reconnect thread, the receive
// thread and the application's threads are written whole, one at a time.
#pragma once

#include <string>

namespace kestsdk {

// Trace text on standard output, written as given (it carries its own "\n").
void traceOut(const std::string& text);
// A message line on standard output, written with its line end in one write.
void messageOut(const std::string& text);
// The same on standard error.
void messageErr(const std::string& text);
// "[HH:MM:SS] " + text on standard output (local time), as one line.
void stampedOut(const std::string& text);

}  // namespace kestsdk
