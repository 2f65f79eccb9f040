#include "core/Utc8Time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {
constexpr int64_t kUtc8OffsetSeconds = 28800;
}

int64_t nowEpochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

Utc8Time utc8FromEpochMs(int64_t epochMs) {
    // Floor division so that instants before 1970 still get a 0..999 millisecond.
    int64_t seconds = epochMs / 1000;
    int64_t millis = epochMs % 1000;
    if (millis < 0) {
        millis += 1000;
        seconds -= 1;
    }
    const time_t shifted = static_cast<time_t>(seconds + kUtc8OffsetSeconds);
    std::tm parts{};
    gmtime_r(&shifted, &parts);
    Utc8Time t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int>(millis);
    return t;
}

std::string streamTimestamp(int64_t epochMs) {
    const Utc8Time t = utc8FromEpochMs(epochMs);
    char text[64] = {};
    std::snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d:%02d_%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}
