#include "registration/RegistrationRun.h"

#include <thread>

#include "core/Trace.h"
#include "registration/RegistrationTiming.h"
#include "registration/RegistrationWire.h"

void RegistrationRun::notify() {
    { std::lock_guard<std::mutex> lock(m_eventMutex); }
    m_eventCond.notify_all();
}

void RegistrationRun::waitForEvent(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_eventMutex);
    m_eventCond.wait_for(lock, timeout, [this] {
        return pointDataReady.load() != 0 || clientEnded.load() || stop.requested();
    });
}

RegistrationService& RegistrationService::instance() {
    static RegistrationService* service = new RegistrationService();  // lives for the process
    return *service;
}

RegistrationService::~RegistrationService() {
    StopAndWait();
}

bool RegistrationService::Start(std::function<std::string()> deviceIp, RegDialogRunner runner) {
    if (registrationRunning.exchange(true)) return false;
    auto run = std::make_shared<RegistrationRun>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_current = run;
    }
    threadStarted();
    std::thread(&RegistrationService::registrationThread, this, run, std::move(deviceIp),
                std::move(runner))
        .detach();
    return true;
}

std::shared_ptr<RegistrationRun> RegistrationService::currentRun() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

bool RegistrationService::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] { return m_liveThreads == 0; });
}

void RegistrationService::StopAndWait() {
    if (auto run = currentRun()) {
        run->stop.request();
        run->notify();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_liveThreads == 0; });
}

void RegistrationService::threadStarted() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_liveThreads;
}

void RegistrationService::threadEnded() {
    // Notified under the lock: a waiter may destroy the service as soon as it
    // gets the lock, and this thread touches nothing of it after unlocking.
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_liveThreads;
    m_idle.notify_all();
}

void RegistrationService::registrationThread(std::shared_ptr<RegistrationRun> run,
                                             std::function<std::string()> deviceIp,
                                             RegDialogRunner runner) {
    threadStarted();
    std::thread(&RegistrationService::clientThread, this, run, deviceIp ? deviceIp() : "").detach();

    // This run's own point set; give up when the client ends without one.
    while (!run->pointDataReady.load()) {
        if (run->clientEnded.load()) {
            tracef("registration ended: no point data from the registration server\n");
            threadEnded();
            return;
        }
        if (run->stop.requested()) {
            threadEnded();
            return;
        }
        run->waitForEvent(RegistrationTiming::ms(registrationTiming().pollMs));
    }

    std::string bytes;
    uint32_t width = 0;
    uint32_t height = 0;
    {
        std::lock_guard<std::mutex> lock(run->pointDataMutex);
        bytes = run->pointBytes;
        width = run->width;
        height = run->height;
    }
    // The client accepted the size, so width x height fits an int.
    std::vector<RegPoint> points = DecodeRegPoints(bytes, width, height);
    bytes = std::string();

    const RegDialogOutcome outcome =
        runner ? runner(std::move(points), static_cast<int>(width), static_cast<int>(height))
               : RegDialogOutcome{};
    if (outcome.ok) {
        {
            std::lock_guard<std::mutex> lock(run->resultMutex);
            if (!run->resultMatrix) run->resultMatrix = std::make_unique<RegMatrix>();
            *run->resultMatrix = outcome.matrix;
            run->resultAreas = outcome.areas;
        }
        run->registrationState.exchange(kRegStateSendResult);
        if (run->clientEnded.load())
            tracef("registration result not sent: the registration server connection has ended\n");
    } else {
        run->registrationState.exchange(kRegStateEnd);
    }
    threadEnded();
}
