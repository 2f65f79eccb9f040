// The end of the tool's process. Worker threads that run until the process
// ends (stream receiver, recorder, gate links) cannot be interrupted in a
// blocking receive, so the process ends without running static destructors
// underneath them; what must reach the disk is flushed and closed first.
#pragma once

// Closes every open record file (after the record being written, if any),
// flushes standard output and error, and ends the process with status.
[[noreturn]] void EndProcess(int status);
