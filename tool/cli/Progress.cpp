#include "cli/Progress.h"

#include <cstdio>

#include "core/NumberText.h"

std::string progressBar(uint64_t sent, uint64_t total, double elapsedSeconds, int width) {
    const double fraction =
        total > 0 ? static_cast<double>(sent) / static_cast<double>(total) : 1.0;
    const int filled = static_cast<int>(fraction * width);
    std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
    const double megabytes = 1024.0 * 1024.0;
    const double rate =
        elapsedSeconds > 0 ? static_cast<double>(sent) / megabytes / elapsedSeconds : 0;
    char tail[96];
    if (rate > 0) {
        const double left = static_cast<double>(total - sent) / megabytes / rate;
        const int seconds = static_cast<int>(left + 0.5);
        snprintfC(tail, sizeof tail, " %3d%%  %7.1f/%.1f MB  %6.1f MB/s  %d:%02d left",
                  static_cast<int>(fraction * 100), static_cast<double>(sent) / megabytes,
                  static_cast<double>(total) / megabytes, rate, seconds / 60, seconds % 60);
    } else {
        snprintfC(tail, sizeof tail, " %3d%%  %7.1f/%.1f MB", static_cast<int>(fraction * 100),
                  static_cast<double>(sent) / megabytes, static_cast<double>(total) / megabytes);
    }
    return bar + tail;
}

int percentStep(uint64_t sent, uint64_t total) {
    if (total == 0) return 100;
    return static_cast<int>(sent * 10 / total) * 10;
}
