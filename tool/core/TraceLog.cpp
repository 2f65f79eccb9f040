#include "core/TraceLog.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <memory>

#include "core/Trace.h"
#include "core/Utc8Time.h"

namespace {

// Text of the current line of each stream, until its line end arrives.
struct LogState {
    std::shared_ptr<spdlog::logger> logger;
    std::string pending[2];
};

std::string datedLine(const std::string& line) {
    const Utc8Time t = utc8FromEpochMs(nowEpochMs());
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return stamp + line;
}

}  // namespace

bool openTraceLog(const std::string& path, size_t fileBytes, size_t filesKept) {
    closeTraceLog();
    auto state = std::make_shared<LogState>();
    try {
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            path, fileBytes, filesKept > 0 ? filesKept - 1 : 0);
        state->logger = std::make_shared<spdlog::logger>("trace", sink);
        state->logger->set_pattern("%v");  // the stamp is the tool's own
        state->logger->flush_on(spdlog::level::trace);
    } catch (const spdlog::spdlog_ex& e) {
        std::fprintf(stderr, "log file %s: %s\n", path.c_str(), e.what());
        return false;
    }
    // Called under the trace lock, so pieces arrive in order.
    setTraceTap([state](TraceStream stream, const std::string& text) {
        std::string& pending = state->pending[stream == TraceStream::Out ? 0 : 1];
        pending += text;
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            state->logger->info("{}", datedLine(pending.substr(start, end - start)));
        pending.erase(0, start);
    });
    return true;
}

void closeTraceLog() {
    setTraceTap(nullptr);
}
