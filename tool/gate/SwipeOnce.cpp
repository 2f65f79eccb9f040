#include "gate/SwipeOnce.h"

#include <chrono>

#include "KestSdk/DeviceClient.h"
#include "KestSdk/DeviceClientTiming.h"

namespace {
// First argument of every authorisation the swipe buttons send.
constexpr uint8_t kAuthorisationFirst = 1;
// Byte 4 of the device's response to an authorisation.
constexpr uint8_t kAuthorisationCode = 0x60;
}  // namespace

SwipeResult swipeOnce(const std::string& address, SwipeKind kind, int timeoutMs, int port) {
    SwipeResult result;
    // The callback runs inside receiveAndProcess, on this thread.
    bool haveResponse = false;

    // Each read gives up after the time left, so a silent device ends the wait.
    deviceClientTiming().receiveTimeoutMs = timeoutMs;
    DeviceClient client;
    client.setResponseCallback(
        [&](const std::array<uint8_t, 16>& frame, uint8_t code, uint8_t, uint8_t, uint8_t) {
            if (code != kAuthorisationCode) return;
            result.response = frame;
            haveResponse = true;
        });
    if (!client.init(address, port) || !client.connect()) return result;
    if (!client.sendAuthorization(kAuthorisationFirst, static_cast<uint8_t>(kind))) {
        result.end = SwipeEnd::SendFailed;
        client.disconnect();
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Pushes (alarms, doors) may come first; they are read and passed over.
    while (!haveResponse && client.receiveAndProcess() > 0 &&
           std::chrono::steady_clock::now() < deadline) {
    }
    client.disconnect();
    result.end = haveResponse ? SwipeEnd::Responded : SwipeEnd::NoResponse;
    return result;
}
