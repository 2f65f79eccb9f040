// The waits and time-outs that tests shorten (shell, gate console, gate
// library), saved when a guard is made and put back when it goes, so that one
// test's short waits never reach the next test in the same program.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "KestSdk/DeviceClientTiming.h"
#include "core/Timing.h"
#include "gate/GateTiming.h"

class ScopedTimings {
public:
    ScopedTimings() {
        for (const Field& f : fields()) saved_.push_back(f.value->load());
    }
    ~ScopedTimings() {
        const std::vector<Field> all = fields();
        for (size_t i = 0; i < all.size(); ++i) all[i].value->store(saved_[i]);
    }
    ScopedTimings(const ScopedTimings&) = delete;
    ScopedTimings& operator=(const ScopedTimings&) = delete;

    // "name=value" of every timing that differs from its saved value.
    std::string changed() const {
        std::string out;
        const std::vector<Field> all = fields();
        for (size_t i = 0; i < all.size(); ++i) {
            const int now = all[i].value->load();
            if (now != saved_[i]) out += std::string(all[i].name) + "=" + std::to_string(now) + " ";
        }
        return out;
    }

private:
    struct Field {
        const char* name;
        std::atomic<int>* value;
    };
    static std::vector<Field> fields() {
        ShellTiming& s = shellTiming();
        GateTiming& g = gateTiming();
        DeviceClientTiming& d = deviceClientTiming();
        return {
            {"shell.loginRetryPauseMs", &s.loginRetryPauseMs},
            {"shell.streamReconnectWaitMs", &s.streamReconnectWaitMs},
            {"shell.streamReceiveTimeoutMs", &s.streamReceiveTimeoutMs},
            {"shell.connectTimeoutMs", &s.connectTimeoutMs},
            {"gate.heartbeatPeriodMs", &g.heartbeatPeriodMs},
            {"gate.receiveRetryMs", &g.receiveRetryMs},
            {"gate.panelRefreshIdleMs", &g.panelRefreshIdleMs},
            {"gateLink.sendTimeoutMs", &d.sendTimeoutMs},
            {"gateLink.receiveTimeoutMs", &d.receiveTimeoutMs},
            {"gateLink.keepAliveTimeMs", &d.keepAliveTimeMs},
            {"gateLink.keepAliveIntervalMs", &d.keepAliveIntervalMs},
            {"gateLink.idleCloseMs", &d.idleCloseMs},
            {"gateLink.reconnectSleepMs", &d.reconnectSleepMs},
            {"gateLink.reconnectSleepCount", &d.reconnectSleepCount},
            {"gateLink.disconnectedWaitMs", &d.disconnectedWaitMs},
            {"gateLink.noDataPauseMs", &d.noDataPauseMs},
            {"gateLink.connectTimeoutMs", &d.connectTimeoutMs},
        };
    }

    std::vector<int> saved_;
};
