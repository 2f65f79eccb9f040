// Long device work run from a GUI handler: the work runs on a thread of its
// own while the GUI thread goes on handling events, so windows keep painting
// (the live view behind a maintenance command keeps running). The call
// returns when the work has finished, like a blocking call would.
#pragma once

#include <functional>

void runWhileResponsive(const std::function<void()>& work);
