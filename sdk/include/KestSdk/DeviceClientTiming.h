// Waits and time-outs of DeviceClient, in one place. The defaults are the
// values the device expects; tests shorten them through this seam. Values are
// read when they are used (socket time-outs when a connection is opened).
#pragma once

#include <atomic>

#include "KestSdk/DeviceClient.h"

struct DeviceClientTiming {
    std::atomic<int> sendTimeoutMs{60000};       // SO_SNDTIMEO of the gate socket
    std::atomic<int> receiveTimeoutMs{60000};    // SO_RCVTIMEO: a silent device ends the read
    std::atomic<int> keepAliveTimeMs{2000};      // idle time before the first keep-alive probe
    std::atomic<int> keepAliveIntervalMs{2000};  // between keep-alive probes
    std::atomic<int> idleCloseMs{10000};         // no data this long after a failed poll: close
    std::atomic<int> reconnectSleepMs{100};      // one step of the reconnect check period
    std::atomic<int> reconnectSleepCount{30};    // steps per period (30 x 100 ms = 3 s)
    std::atomic<int> disconnectedWaitMs{1000};   // receive thread, while there is no connection
    std::atomic<int> noDataPauseMs{100};       // receive thread, after a call that brought no data
    std::atomic<int> connectTimeoutMs{21000};  // a connect to a silent address gives up
};

// The one instance the library reads, shared by all clients.
KESTSDK_API DeviceClientTiming& deviceClientTiming();
