#include "core/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

std::mutex g_traceMutex;
TraceSink g_traceSink;
TraceSink g_traceTap;

std::string formatArgs(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(needed));
}

void emit(TraceStream stream, const std::string& text) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    if (g_traceTap) g_traceTap(stream, text);
    if (g_traceSink) {
        g_traceSink(stream, text);
        return;
    }
    FILE* out = stream == TraceStream::Out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

}  // namespace

void traceInit() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void tracef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatArgs(format, args);
    va_end(args);
    emit(TraceStream::Out, text);
}

void traceErrf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatArgs(format, args);
    va_end(args);
    emit(TraceStream::Err, text);
}

void setTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceSink = std::move(sink);
}

void setTraceTap(TraceSink tap) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceTap = std::move(tap);
}
