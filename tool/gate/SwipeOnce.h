// One card-swipe authorisation outside the alarm console: connect to the
// device's gate-linkage port, send the authorisation the swipe buttons send,
// wait for the device's response, disconnect. For scripted and fleet work.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "gate/AlarmPanel.h"

enum class SwipeEnd { ConnectFailed, SendFailed, NoResponse, Responded };

struct SwipeResult {
    SwipeEnd end = SwipeEnd::ConnectFailed;
    std::array<uint8_t, 16> response{};  // the response frame when one came
};

// Uses KestSdk_Win's client on port (the alarm port by default); gives up
// waiting for the response after timeoutMs.
SwipeResult swipeOnce(const std::string& address, SwipeKind kind, int timeoutMs, int port);
