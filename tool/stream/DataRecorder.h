// The data recorder thread: its own connection to the device's collection
// server, one request, then every received frame written as one record by a
// PointDataWriter, until the stop request. Reconnects by itself every 5 s
// while the server is unreachable.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class StopFlag;
class TcpClient;

// Run state of the recorder, shared by the main dialog and the recorder
// thread (which may outlive the dialog).
struct RecorderControl {
    // The thread runs: set by the start command, cleared by the thread.
    std::atomic<bool> m_recordRunning{false};
    // Stop request: 1 from the stop command; the recording loop clears it as it begins.
    std::atomic<int32_t> m_recordStop{0};
};

// Waits of the recorder, in one place; tests shorten them here.
struct RecorderTiming {
    std::atomic<int> reconnectWaitMs{5000};  // between connection attempts
    std::atomic<int> fpsIntervalMs{1000};    // the fps line is printed this often

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};
RecorderTiming& recorderTiming();

// The collection connection of the process: made on the first start and kept.
TcpClient& collectionClient();

// One recorder run for the device at deviceIp, with the record files below
// folder ("./" in the tool). Returns after the stop request has ended the
// recording, with control.m_recordRunning false. teardown (tests only) also
// ends the connect loop, which otherwise retries for ever.
void RunDataRecorder(RecorderControl& control, TcpClient& client, const std::string& deviceIp,
                     const std::string& folder, const StopFlag& teardown);
