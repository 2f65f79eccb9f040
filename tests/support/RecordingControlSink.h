// A ControlSink for tests: remembers every text and picture a worker sent,
// per control, and lets a test wait for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/ControlSink.h"

class RecordingControlSink : public ControlSink {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kWait{10000};  // reaching it fails the test

    // Every control reports this client size unless setSize says otherwise.
    RecordingControlSink(int width = 480, int height = 320) : width_(width), height_(height) {}

    void setControlText(int controlId, const std::string& text) override;
    void controlSize(int controlId, int& width, int& height) const override;
    void showImage(int controlId, const cv::Mat& image) override;
    bool prefersFourChannels() const override { return fourChannels; }

    // Colour pictures are asked for as blue-green-red-255, as a screen does.
    bool fourChannels = false;
    // Runs on the caller's thread before a text is recorded, without the
    // sink's lock held.
    std::function<void(int controlId, const std::string& text)> beforeText;

    void setSize(int controlId, int width, int height);
    // Texts set on a control, oldest first.
    std::vector<std::string> texts(int controlId) const;
    // The latest text of a control, "<none>" before the first.
    std::string lastText(int controlId) const;
    // Texts set on all controls together.
    size_t textCount() const;
    int imageCount(int controlId) const;
    // A deep copy of the last picture shown on a control (empty if none).
    cv::Mat lastImage(int controlId) const;
    // Waits until a control has received at least n texts / pictures.
    bool waitForTexts(int controlId, size_t n, Ms timeout = kWait) const;
    bool waitForImages(int controlId, int n, Ms timeout = kWait) const;
    // Waits until some text set on a control contains needle.
    bool waitForTextContaining(int controlId, const std::string& needle, Ms timeout = kWait) const;
    // Waits until the latest text of a control satisfies predicate.
    bool waitForLastText(int controlId, const std::function<bool(const std::string&)>& predicate,
                         Ms timeout = kWait) const;

private:
    // Waits until predicate holds; it runs under the sink's lock, so it reads
    // the members directly, never through the locking getters.
    bool waitUntil(const std::function<bool()>& predicate, Ms timeout) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    int width_;
    int height_;
    std::map<int, std::pair<int, int>> sizes_;
    std::map<int, std::vector<std::string>> texts_;
    std::map<int, int> imageCounts_;
    std::map<int, cv::Mat> lastImages_;
};
