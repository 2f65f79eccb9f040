#include "core/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/NumberText.h"

namespace {

std::mutex g_traceMutex;
TraceSink g_traceSink;
TraceSink g_traceTap;

// Text up to this size is formatted on the stack: one pass, no allocation.
constexpr size_t kStackLine = 512;

void emit(TraceStream stream, const char* data, size_t length) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    if (g_traceTap || g_traceSink) {
        const std::string text(data, length);
        if (g_traceTap) g_traceTap(stream, text);
        if (g_traceSink) {
            g_traceSink(stream, text);
            return;
        }
    }
    FILE* out = stream == TraceStream::Out ? stdout : stderr;
    std::fwrite(data, 1, length, out);
    std::fflush(out);
}

void emitFormatted(TraceStream stream, const char* format, va_list args) {
    char line[kStackLine];
    va_list copy;
    va_copy(copy, args);
    // Numbers with '.' whatever locale the process runs in.
    const int needed = vsnprintfC(line, sizeof line, format, copy);
    va_end(copy);
    if (needed <= 0) return;
    if (static_cast<size_t>(needed) < sizeof line) {
        emit(stream, line, static_cast<size_t>(needed));
        return;
    }
    std::vector<char> longLine(static_cast<size_t>(needed) + 1);
    vsnprintfC(longLine.data(), longLine.size(), format, args);
    emit(stream, longLine.data(), static_cast<size_t>(needed));
}

}  // namespace

void traceInit() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void tracef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emitFormatted(TraceStream::Out, format, args);
    va_end(args);
}

void traceErrf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emitFormatted(TraceStream::Err, format, args);
    va_end(args);
}

void setTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceSink = std::move(sink);
}

void setTraceTap(TraceSink tap) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceTap = std::move(tap);
}
