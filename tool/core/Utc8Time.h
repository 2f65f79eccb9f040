// Trace and panel timestamps are China Standard Time (UTC+8) whatever the
// machine's zone: calendar time plus 28800 s, broken down as UTC.
#pragma once

#include <cstdint>
#include <string>

struct Utc8Time {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Milliseconds since 1970 on the system clock.
int64_t nowEpochMs();

Utc8Time utc8FromEpochMs(int64_t epochMs);

// "2025-03-04 09:05:07_042", the form of the stream receiver's trace.
std::string streamTimestamp(int64_t epochMs);
