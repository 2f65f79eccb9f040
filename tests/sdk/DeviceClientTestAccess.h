// The test-only way into DeviceClient: its frame builder, its receive path
// without a socket, and its socket handle. The library's header names this
// struct as a friend; nothing outside the tests defines it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KestSdk/DeviceClient.h"

struct DeviceClientTestAccess {
    static void buildAndSend(DeviceClient& c, uint8_t kind, uint8_t p1, uint8_t p2 = 0,
                             uint8_t p3 = 0, uint8_t p4 = 0, uint8_t p5 = 0, uint8_t p6 = 0,
                             uint8_t p7 = 0) {
        c.buildAndSend(kind, p1, p2, p3, p4, p5, p6, p7);
    }
    static void feedRecvData(DeviceClient& c, const uint8_t* data, size_t length) {
        c.feedRecvData(data, length);
    }
    static size_t bufferedBytes(DeviceClient& c) {
        std::lock_guard<std::mutex> lock(c.bufferMutex);
        return c.recvBuffer.size();
    }
    static SocketHandle socketOf(const DeviceClient& c) { return c.socketHandle; }
};
