// The algorithm object display: a viewer thread with its own connection to
// the device's algorithm server (TCP 10300). It asks once for the stream
// (int32 1), then shows every 640 x 640 blue-green-red picture it receives
// (int32 length, then the picture) in the window "AlgObj", until the stop
// request. The display is behind an access code in the settings file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <string>

#include "algview/AlgPictureHeader.h"

class StopFlag;
class TcpClient;

constexpr const char* kAlgObjWindow = "AlgObj";

// True when the settings value is the display's access code (six characters,
// compared byte for byte).
bool AlgShowAccessGranted(const std::string& settingsValue);

// Run state shared by the main dialog and the viewer thread (which may
// outlive the dialog).
struct AlgViewControl {
    // The viewer runs: set by the open command, cleared by the thread.
    std::atomic<bool> m_algShowRunning{false};
    // Stop request: 1 from the Escape key (or the close command).
    std::atomic<int32_t> m_algShowStop{0};
};

// Waits of the viewer, in one place; tests shorten them here.
struct AlgViewTiming {
    std::atomic<int> reconnectWaitMs{5000};  // between connection attempts
    std::atomic<int> emptyFrameWaitMs{1};    // after a length of 0 or less

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};
AlgViewTiming& algViewTiming();

// Where the pictures go: the "AlgObj" window in the tool.
class PictureWindow {
public:
    virtual ~PictureWindow() = default;
    // picture is 640 x 640, 8-bit, 3 channels; it is valid only during the call.
    virtual void show(const cv::Mat& picture) = 0;
};

// cv::imshow into "AlgObj" and cv::waitKey(1), from the viewer thread.
class HighGuiPictureWindow : public PictureWindow {
public:
    void show(const cv::Mat& picture) override;
};

// One viewer run for the device at deviceIp. Returns after the stop request
// (or teardown, tests only) with control.m_algShowRunning false.
void RunAlgViewer(AlgViewControl& control, const std::string& deviceIp, PictureWindow& window,
                  const StopFlag& teardown);
