#include "app/ProcessExit.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "stream/PointDataWriter.h"

namespace {
std::mutex g_hookMutex;
std::function<void()> g_beforeEnd;
}  // namespace

void setBeforeProcessEnd(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_beforeEnd = std::move(hook);
}

void EndProcess(int status) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook.swap(g_beforeEnd);  // runs once, even if it ends the process again
    }
    if (hook) hook();
    // _Exit flushes no stdio stream of its own: the record files first.
    CloseAllRecordFiles();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
