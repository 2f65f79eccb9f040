// Waits on a device's socket that end by a deadline, however the device
// dribbles: a receive time-out set on the socket restarts with every byte, so
// a device sending one now and then could stretch it without end.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

using SteadyTime = std::chrono::steady_clock::time_point;

// Waits until the socket is ready for events (POLLIN, POLLOUT) or the
// deadline passes; false when the time ran out or poll failed. A closed or
// reset connection counts as ready: the receive or send that follows says so.
bool socketReadyBefore(int sock, short events, SteadyTime deadline);

enum class ReceiveEnd {
    Whole,    // every byte arrived
    Stopped,  // shouldStop said so first; what arrived stays in buffer
    Failed,   // the peer closed or failed, or the deadline passed
};

// Receives exactly length bytes by the deadline. shouldStop (may be empty) is
// asked whenever no byte is waiting, at least every stopCheck.
ReceiveEnd receiveBefore(int sock, void* buffer, size_t length, SteadyTime deadline,
                         const std::function<bool()>& shouldStop = {},
                         std::chrono::milliseconds stopCheck = std::chrono::milliseconds(100));
