// The end of the tool's process. Worker threads that run until the process
// ends (stream receiver, recorder, gate links) cannot be interrupted in a
// blocking receive, so the process ends without running static destructors
// underneath them; what must reach the disk is flushed and closed first.
#pragma once

#include <functional>

// Work that must be done however the process ends (the stall probe's
// summary), run by EndProcess first, on the thread that ends the process.
// One hook; an empty one removes it.
void setBeforeProcessEnd(std::function<void()> hook);

// Closes every open record file (after the record being written, if any),
// flushes standard output and error, and ends the process with status.
[[noreturn]] void EndProcess(int status);
