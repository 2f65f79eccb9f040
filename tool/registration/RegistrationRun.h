// A registration run: the registration thread waits for a point set, has the
// dialog run with it and publishes the result; the registration client thread
// holds the connection to the device's registration server (TCP 38972), asks
// for the point set, keeps polling while the dialog is open and sends the
// result. The two meet only through the run's shared values below.
//
// Each run has its own values, so a run always waits for its own point set
// and learns when its own client has ended. The registration server client
// does not reconnect after a failure: the failure ends the run (the
// registration thread then gives up or, with its dialog open, reports the
// result as not sent) and the menu can start a new one at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/StopFlag.h"
#include "registration/RegGeometry.h"

// registrationState values: what the client does at its next loop turn.
constexpr int32_t kRegStateIdle = 0;        // keep polling
constexpr int32_t kRegStateWantPoints = 1;  // ask for point data
constexpr int32_t kRegStateSendResult = 2;  // send the result now
constexpr int32_t kRegStateEnd = -1;        // stop

// What the dialog leaves: OK with the matrix and the area set, or cancelled.
struct RegDialogOutcome {
    bool ok = false;
    RegMatrix matrix;
    RegAreaSet areas{};
};
// Runs the dialog for a point set of width x height points and returns when
// it has ended (on the registration thread).
using RegDialogRunner =
    std::function<RegDialogOutcome(std::vector<RegPoint> points, int width, int height)>;

class RegistrationRun {
public:
    std::atomic<int32_t> registrationState{kRegStateIdle};
    std::atomic<int32_t> pointDataReady{0};
    std::atomic<bool> clientEnded{false};

    // The received point set (client writes, registration thread reads).
    std::mutex pointDataMutex;
    std::string pointBytes;
    uint32_t width = 0;
    uint32_t height = 0;

    // The stored result (registration thread writes, client reads). The
    // matrix is absent until the first result is stored.
    std::mutex resultMutex;
    std::unique_ptr<RegMatrix> resultMatrix;
    RegAreaSet resultAreas{};

    // Ends the run's waits (tests, and a tool that closes).
    StopFlag stop;

    // Wakes the registration thread (point data arrived, client ended).
    void notify();
    // Waits up to timeout for point data, the client's end or a stop.
    void waitForEvent(std::chrono::milliseconds timeout);

private:
    std::mutex m_eventMutex;
    std::condition_variable m_eventCond;
};

// Starts runs, one at a time. The tool has one for the whole process; tests
// make their own.
class RegistrationService {
public:
    static RegistrationService& instance();

    RegistrationService() = default;
    // Stops the current run and waits for its threads.
    ~RegistrationService();
    RegistrationService(const RegistrationService&) = delete;
    RegistrationService& operator=(const RegistrationService&) = delete;

    // Starts a run for the device address deviceIp() gives when the client
    // starts, with runner for the dialog. False, starting nothing, while a
    // run is active.
    bool Start(std::function<std::string()> deviceIp, RegDialogRunner runner);

    // Set by Start, cleared when the run's client thread ends.
    std::atomic<bool> registrationRunning{false};

    // The current (or last) run, for tests.
    std::shared_ptr<RegistrationRun> currentRun() const;
    // Waits until no thread of any run is left; true when none is.
    bool WaitIdle(std::chrono::milliseconds timeout);
    // Stops the current run's waits, then waits for its threads.
    void StopAndWait();

private:
    void threadStarted();
    void threadEnded();
    void registrationThread(std::shared_ptr<RegistrationRun> run,
                            std::function<std::string()> deviceIp, RegDialogRunner runner);
    void clientThread(std::shared_ptr<RegistrationRun> run, std::string deviceIp);

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_liveThreads = 0;
    std::shared_ptr<RegistrationRun> m_current;
};
