// Pieces the benchmarks share: a control sink that only counts pictures, and
// the process's peak memory.
#pragma once

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <opencv2/core.hpp>
#include <string>

#include "core/ControlSink.h"

// Shows nothing: the picture stops at the control, as if painted. It asks
// for pictures as the tool's Qt sink does: drawn into a buffer it lends, in
// the screen's 4-byte layout unless told otherwise.
class CountingSink : public ControlSink {
public:
    explicit CountingSink(bool fourChannels = true) : fourChannels_(fourChannels) {}
    void setControlText(int, const std::string&) override {}
    void controlSize(int, int& w, int& h) const override { w = 640, h = 480; }
    void showImage(int, const cv::Mat&) override { ++shown; }
    bool prefersFourChannels() const override { return fourChannels_; }
    cv::Mat lendPicture(int, cv::Size size, int type) override {
        screen_.create(size, type);
        return screen_;
    }
    std::atomic<long> shown{0};

private:
    bool fourChannels_;
    cv::Mat screen_;
};

// Peak resident memory of this process so far, in bytes.
inline long peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
    return 0;
}
