#include "cli/WatchCommand.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>

#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "cli/DeviceLines.h"
#include "core/Flags.h"
#include "core/Utc8Time.h"
#include "gate/GateConsole.h"
#include "gate/GateTiming.h"

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds ms(const std::atomic<int>& value) {
    return std::chrono::milliseconds(value.load());
}

int64_t msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// The console's client plus the number of the link it holds: a link replaced
// by the reconnect thread between two reads is a loss too, although the
// client looks connected all along.
class WatchClient : public GateDeviceClient {
public:
    uint64_t linkNumber() {
        std::lock_guard<std::mutex> lock(sendMutex);
        return linkGeneration;
    }
};

}  // namespace

WatchTiming& watchTiming() {
    static WatchTiming timing;
    return timing;
}

struct StationWatch::Device {
    WatchClient client;
    std::thread thread;
    WatchTally tally;  // written by this device's thread only, read after it ended
};

StationWatch::StationWatch(std::vector<std::string> devices, int port, bool json, bool chinese,
                           WatchLineSink sink)
    : port_(port), json_(json), chinese_(chinese), sink_(std::move(sink)) {
    for (std::string& address : devices) {
        auto device = std::make_unique<Device>();
        device->tally.device = std::move(address);
        devices_.push_back(std::move(device));
    }
}

StationWatch::~StationWatch() {
    stop();
}

void StationWatch::start() {
    if (started_) return;
    started_ = true;
    for (auto& device : devices_) {
        Device* d = device.get();
        d->client.init(d->tally.device, port_);
        // On this device's thread, inside its receive step: one line per
        // push frame, in the order the frames came.
        d->client.setPushCallback([this, d](const std::array<uint8_t, 16>& frame, uint8_t, uint8_t,
                                            uint8_t, uint8_t, uint8_t, uint8_t, uint8_t) {
            ++d->tally.events;
            sink_(eventLine(d->tally.device, nowEpochMs(), frame, json_));
        });
        d->thread = std::thread(&StationWatch::deviceLoop, this, std::ref(*d));
    }
    heartbeat_ = std::thread(&StationWatch::heartbeatLoop, this);
}

void StationWatch::deviceLoop(Device& device) {
    setThreadDevice(device.tally.device);
    WatchClient& client = device.client;
    WatchTally& tally = device.tally;
    bool up = false;
    uint64_t link = 0;
    Clock::time_point upSince;
    auto emit = [&](LinkChange change) {
        sink_(linkLine(tally.device, nowEpochMs(), change, json_, chinese_));
    };
    auto goUp = [&] {
        up = true;
        link = client.linkNumber();
        upSince = Clock::now();
        emit(tally.reached ? LinkChange::Back : LinkChange::Connected);
        tally.reached = true;
    };
    auto goDown = [&] {
        up = false;
        tally.connectedMs += msBetween(upSince, Clock::now());
        ++tally.linkLosses;
        emit(LinkChange::Lost);
    };

    client.connect();  // a refusal is retried by the reconnect thread
    if (stop_.requested()) return;
    client.startAutoReconnect();
    const WatchTiming& timing = watchTiming();
    while (!stop_.requested()) {
        if (!client.isConnected()) {
            if (up) goDown();
            stop_.sleepFor(ms(timing.linkPollMs));
            continue;
        }
        if (up && client.linkNumber() != link) goDown();
        if (!up) goUp();
        const int n = client.receiveAndProcess();
        if (n > 0) continue;
        if (stop_.requested()) break;
        // A failed read on a link that is still the same and still healthy
        // (an interrupted call): try again after a pause.
        if (n < 0 && client.isConnected() && client.linkNumber() == link) {
            stop_.sleepFor(ms(timing.readErrorPauseMs));
            continue;
        }
        goDown();
    }
    if (up) tally.connectedMs += msBetween(upSince, Clock::now());
}

// One thread for every device's heartbeat: a heartbeat is one 16-byte send,
// which the library makes under its send lock only, so it goes out while the
// device's thread waits in its read.
void StationWatch::heartbeatLoop() {
    Clock::time_point next = Clock::now();
    for (;;) {
        next += ms(watchTiming().heartbeatPeriodMs);
        if (!stop_.sleepUntil(next)) return;
        for (auto& device : devices_) {
            if (stop_.requested()) return;
            if (device->client.isConnected()) device->client.sendHeartbeat();
        }
    }
}

void StationWatch::stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    stop_.request();
    if (heartbeat_.joinable()) heartbeat_.join();
    // Each device: no more reconnects, then the read in progress ends at once.
    // In parallel, since ending a reconnect thread takes up to one of its
    // 100 ms steps.
    auto end = [](Device* d) {
        d->client.stopAutoReconnect();
        d->client.interruptRead();
        if (d->thread.joinable()) d->thread.join();
    };
    std::vector<std::thread> enders;
    for (auto& device : devices_) {
        try {
            enders.emplace_back(end, device.get());
        } catch (const std::system_error&) {
            end(device.get());
        }
    }
    for (std::thread& t : enders) t.join();
}

std::vector<WatchTally> StationWatch::tallies() const {
    std::vector<WatchTally> out;
    for (const auto& device : devices_) out.push_back(device->tally);
    return out;
}

namespace {

// Waits for SIGINT or SIGTERM (blocked in every thread), or until the
// deadline when seconds > 0.
void waitForEnd(const sigset_t& signals, int seconds) {
    if (seconds <= 0) {
        int signal = 0;
        while (sigwait(&signals, &signal) != 0) {
        }
        return;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const int64_t left = msBetween(Clock::now(), deadline);
        if (left <= 0) return;
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(left / 1000);
        wait.tv_nsec = static_cast<long>(left % 1000) * 1000000L;
        if (sigtimedwait(&signals, nullptr, &wait) >= 0) return;
        if (errno != EAGAIN && errno != EINTR) return;
    }
}

}  // namespace

int runWatch(const CliOptions& options, const WatchLineSink& print) {
    std::set<std::string> seen;
    for (const std::string& device : options.devices) {
        if (!seen.insert(device).second) {
            std::fprintf(stderr, "kestctl: device %s given twice\n", device.c_str());
            return kExitBadInput;
        }
    }
    g_uiChinese = options.chinese;  // the panel's words in the chosen language

    // Blocked before any thread starts, so that every thread inherits the
    // mask and only the wait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    StationWatch watch(options.devices, kGatePortAlarm, options.json, options.chinese, print);
    watch.start();
    waitForEnd(signals, options.forSeconds);
    watch.stop();
    const std::vector<WatchTally> tallies = watch.tallies();
    for (const WatchTally& tally : tallies)
        print(summaryLine(tally, options.json, options.chinese));
    return watchExitCode(tallies);
}
