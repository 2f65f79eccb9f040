// Base fixture of the library's tests: every wait and time-out of the client
// is shortened so that a silent device, a reconnect period or a stopping
// thread takes milliseconds; the defaults come back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "FakeGate.h"
#include "KestSdk/DeviceClient.h"
#include "KestSdk/DeviceClientTiming.h"

class SdkTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceClientTiming& t = deviceClientTiming();
        t.sendTimeoutMs = 2000;
        t.receiveTimeoutMs = 300;
        t.reconnectSleepMs = 5;
        t.reconnectSleepCount = 4;
        t.disconnectedWaitMs = 10;
        t.noDataPauseMs = 5;
    }
    void TearDown() override {
        DeviceClientTiming& t = deviceClientTiming();
        const DeviceClientTiming defaults;
        t.sendTimeoutMs = defaults.sendTimeoutMs.load();
        t.receiveTimeoutMs = defaults.receiveTimeoutMs.load();
        t.idleCloseMs = defaults.idleCloseMs.load();
        t.reconnectSleepMs = defaults.reconnectSleepMs.load();
        t.reconnectSleepCount = defaults.reconnectSleepCount.load();
        t.disconnectedWaitMs = defaults.disconnectedWaitMs.load();
        t.noDataPauseMs = defaults.noDataPauseMs.load();
    }
};

// One callback call as the client made it.
struct SeenFrame {
    bool push;
    std::array<uint8_t, 16> frame;
    Bytes args;  // the byte arguments, in argument order
};

// Records every callback of a client; callbacks may come from its threads.
class Recorder {
public:
    explicit Recorder(DeviceClient& client) {
        client.setPushCallback([this](const std::array<uint8_t, 16>& f, uint8_t a, uint8_t b,
                                      uint8_t c, uint8_t d, uint8_t e, uint8_t g, uint8_t h) {
            add({true, f, {a, b, c, d, e, g, h}});
        });
        client.setResponseCallback(
            [this](const std::array<uint8_t, 16>& f, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
                add({false, f, {a, b, c, d}});
            });
    }
    std::vector<SeenFrame> seen() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.size();
    }

private:
    void add(const SeenFrame& s) {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(s);
    }
    mutable std::mutex mutex_;
    std::vector<SeenFrame> seen_;
};

// Calls receiveAndProcess until total bytes went through; false when a call
// brought nothing first.
inline bool receiveBytes(DeviceClient& client, size_t total) {
    size_t got = 0;
    while (got < total) {
        const int n = client.receiveAndProcess();
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return got == total;
}

// A client connected to gate (accepted on the gate's side).
inline bool openLink(DeviceClient& client, FakeGate& gate) {
    return gate.listening() && client.init(gate.address(), gate.port()) && client.connect() &&
           gate.accept();
}
