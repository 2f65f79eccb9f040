// The stall probe: how long the GUI thread is kept from its event loop. When
// KEST_STALL_LOG names a file, a timer on the GUI thread ticks every few
// milliseconds and notes how late each tick runs; the file gets one line per
// second with the longest delay in that second and, when the probe ends, a
// summary (longest delay, 99th percentile). Line formats: core/StallStats.h.
// Without the variable there is no probe and no timer at all.
#pragma once

#include <QElapsedTimer>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/StallStats.h"

class QTimer;

struct StallProbeTiming {
    std::atomic<int> tickMs{10};      // interval of the probe's timer
    std::atomic<int> periodMs{1000};  // one line per period
};
StallProbeTiming& stallProbeTiming();

// Name of the probe's timer (a child of the application object).
constexpr const char* kStallProbeTimerName = "kest-stall-probe";
// The environment variable naming the probe's file.
constexpr const char* kStallLogVariable = "KEST_STALL_LOG";

class StallProbe {
public:
    // A probe appending to the file that KEST_STALL_LOG names; nullptr (and
    // no timer) when the variable is not set or empty. A file that cannot be
    // opened is traced and gives no probe either. Call on the GUI thread
    // after the QApplication exists; destroy before it.
    static std::unique_ptr<StallProbe> startFromEnvironment();

    // Writes the open second's line and the summary, and stops the timer;
    // once (the destructor calls it too). Also for a process that ends
    // without leaving main's scope (a close during a device exchange).
    void finish();
    ~StallProbe();
    StallProbe(const StallProbe&) = delete;
    StallProbe& operator=(const StallProbe&) = delete;

private:
    explicit StallProbe(std::FILE* file);
    void onTick();
    void write(const std::string& lines);

    std::FILE* m_file;
    StallStats m_stats;
    std::unique_ptr<QTimer> m_timer;
    QElapsedTimer m_clock;
    int64_t m_startEpochUs = 0;  // wall clock at the start, for the line times
    int64_t m_lastTickUs = 0;    // on m_clock
    int64_t m_intervalUs = 0;
    bool m_finished = false;
};
