// Console trace of the tool. Lines go to standard output, flushed line by line
// even when it is a pipe or a file; error lines go to standard error. Tests may
// route both into a sink of their own to assert on the exact lines.
#pragma once

#include <functional>
#include <string>

enum class TraceStream { Out, Err };
using TraceSink = std::function<void(TraceStream, const std::string&)>;

// Makes standard output line-buffered; called once at start-up.
void traceInit();

// printf-style trace to standard output. The text is written as formatted: the
// caller supplies the "\n" like every device trace line does.
// Numbers are formatted as in the C locale ('.') whatever the process locale.
void tracef(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same on standard error.
void traceErrf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces where trace text goes; an empty sink restores the real streams.
void setTraceSink(TraceSink sink);
// A second destination that sees every piece of trace text as well, in the
// order written, whatever the sink (the log file); empty removes it.
void setTraceTap(TraceSink tap);
