// The data recorder thread: its own connection to the device's collection
// server, one request, then every received frame written as one record by a
// PointDataWriter, until the stop request or a record that cannot be written
// (a full disk). Reconnects by itself every 5 s while the server is
// unreachable. The stop request is looked at while a frame is on its way, so
// a silent or trickling device cannot hold the recording open.
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
    // A receive or a pause waits at most this long before it looks at the stop
    // request again. The receive time-out (core/Timing.h) still bounds the
    // whole wait for one part of a frame (header, block, payload).
    std::atomic<int> stopCheckMs{100};

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};
RecorderTiming& recorderTiming();

// The collection connection of the process: made on the first start and kept.
TcpClient& collectionClient();

// How a recorder run ended.
struct RecorderOutcome {
    // False when a record could not be written and the recording stopped on
    // its own; true when it ended on the stop request (or teardown).
    bool stoppedByRequest = true;
    std::string failedPath;    // the file that could not be made or written
    std::string reason;        // the system's words for it
    uint64_t recordsKept = 0;  // whole records in the files of the run
    uint64_t filesKept = 0;    // files of the run that hold at least one record
};

// One recorder run for the device at deviceIp, with the record files below
// folder ("./" in the tool). Returns after the stop request has ended the
// recording, or after a record could not be written, with
// control.m_recordRunning false. teardown (tests, kestctl) also ends the
// connect loop, which otherwise retries for ever.
RecorderOutcome RunDataRecorder(RecorderControl& control, TcpClient& client,
                                const std::string& deviceIp, const std::string& folder,
                                const StopFlag& teardown);

// The box or line that tells the engineer why the recording stopped on its
// own (outcome.stoppedByRequest false).
std::string recorderFailureText(const RecorderOutcome& outcome, bool chinese);
