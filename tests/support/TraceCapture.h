// Collects the tool's trace lines during a test so that they can be asserted
// on; waits for a line to appear when it comes from another thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/Trace.h"

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();

    // Everything written to standard output (or error) so far, concatenated.
    std::string out() const;
    std::string err() const;
    // Waits until the standard output text contains needle.
    bool waitFor(const std::string& needle,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    // How often needle occurs in the standard output text.
    int count(const std::string& needle) const;
    void clear();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    std::string out_;
    std::string err_;
};
