#include "SimLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "core/NumberText.h"
#include "core/Utc8Time.h"

void simLog(const char* server, const char* format, ...) {
    static std::mutex logMutex;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintfC(text, sizeof text, format, args);  // numbers with '.' in any locale
    va_end(args);
    std::lock_guard<std::mutex> lock(logMutex);
    std::printf("[%s] [%s] %s\n", streamTimestamp(nowEpochMs()).c_str(), server, text);
    std::fflush(stdout);
}
