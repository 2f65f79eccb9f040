// The 16-byte gate-linkage frames: building and sending commands, cutting the
// received byte stream into frames and handing them to the callbacks.
//   offset: 0  1  2  3    4  5  6  7  8  9  10 11 12 13 14 15
//           7E 00 01 kind p1 p2 p3 p4 p5 00 00 p6 p7 AA BB 7E
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "ClientConsole.h"
#include "KestSdk/DeviceClient.h"
#include "SocketPort.h"

using namespace kestsdk;

namespace {

constexpr size_t kFrameSize = 16;
constexpr uint8_t kStartMarker = 0x7E;
constexpr uint8_t kTailMarker1 = 0xAA;
constexpr uint8_t kTailMarker2 = 0xBB;

constexpr uint8_t kCommandKind = 0x01;
constexpr uint8_t kAuthorizationCode = 0x60;
constexpr uint8_t kHeartbeatCode = 0x61;
constexpr uint8_t kTimeoutSettingCode = 0x70;

// The markers of a frame, checked where the bytes lie: the receive path tries
// every 0x7E it meets, so the check must cost no call and no copy.
inline bool hasFrameMarkers(const uint8_t* p) {
    return p[0] == kStartMarker && p[15] == kStartMarker && p[13] == kTailMarker1 &&
           p[14] == kTailMarker2;
}

// The fixed bytes of every frame the library builds; all others zero.
GateFrame baseFrame() {
    GateFrame frame{};
    frame[0] = kStartMarker;
    frame[2] = 0x01;
    frame[13] = kTailMarker1;
    frame[14] = kTailMarker2;
    frame[15] = kStartMarker;
    return frame;
}

GateFrame commandFrame(uint8_t code, uint8_t argument5, uint8_t argument11) {
    GateFrame frame = baseFrame();
    frame[3] = kCommandKind;
    frame[4] = code;
    frame[5] = argument5;
    frame[11] = argument11;
    return frame;
}

// A throwing callback must not end the parsing: the frame is still consumed
// and the next one delivered.
template <typename Call>
void callGuarded(const char* which, Call&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        messageErr(std::string("Exception in ") + which + " callback: " + e.what());
    } catch (...) {
        messageErr(std::string("Unknown exception in ") + which + " callback");
    }
}

}  // namespace

void DeviceClient::buildBaseFrame(std::array<uint8_t, 16>& frame) {
    frame = baseFrame();
}

void DeviceClient::buildAndSend(uint8_t frameKind, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4,
                                uint8_t p5, uint8_t p6, uint8_t p7) {
    GateFrame frame;
    buildBaseFrame(frame);
    frame[3] = frameKind;
    frame[4] = p1;
    frame[5] = p2;
    frame[6] = p3;
    frame[7] = p4;
    frame[8] = p5;
    frame[11] = p6;
    frame[12] = p7;
    sendRawFrame(frame.data());
}

bool DeviceClient::sendAuthorization(uint8_t first, uint8_t second) {
    return sendRawFrame(commandFrame(kAuthorizationCode, first, second).data());
}

bool DeviceClient::sendHeartbeat() {
    return sendRawFrame(commandFrame(kHeartbeatCode, 0, 0).data());
}

bool DeviceClient::sendTimeoutSetting(uint8_t timeout) {
    return sendRawFrame(commandFrame(kTimeoutSettingCode, timeout, 0).data());
}

bool DeviceClient::sendRawFrame(const uint8_t* const frame) {
    if (net::loadHandle(socketHandle) == net::kInvalid) return false;
    size_t sent = 0;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        // Closed while this thread waited for the lock.
        const SocketHandle s = net::loadHandle(socketHandle);
        if (s == net::kInvalid) return false;
        generation = linkGeneration;
        while (sent < kFrameSize) {
            const int n = net::sendSome(s, frame + sent, kFrameSize - sent);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            const int code = net::lastError();
            if (n < 0 && net::isSendRetry(code)) continue;
            messageErr("send failed: " + std::to_string(code));
            break;
        }
    }
    if (sent == kFrameSize) return true;
    // Part of a frame went out: every later frame would reach the device out
    // of step, so the link is closed and the reconnect starts clean.
    if (sent > 0) closeSocketIfCurrent(generation);
    return false;
}

bool DeviceClient::validateFrame(const std::array<uint8_t, 16>& frame) {
    return hasFrameMarkers(frame.data());
}

void DeviceClient::setPushCallback(
    std::function<void(const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t,
                       uint8_t, uint8_t)>
        callback) {
    pushCallback = std::move(callback);
}

void DeviceClient::setResponseCallback(
    std::function<void(const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t, uint8_t)>
        callback) {
    responseCallback = std::move(callback);
}

void DeviceClient::feedRecvData(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(bufferMutex);
    recvBuffer.insert(recvBuffer.end(), data, data + length);
    parseBufferForFrames();
}

// One pass over the buffer per call, so the work stays linear in the bytes
// received. Positions that had a whole 16-byte window and did not hold a
// frame can never become one and are dropped; the tail that may still be the
// start of a frame split across reads stays (at most 15 bytes, from a 0x7E).
void DeviceClient::parseBufferForFrames() {
    const size_t size = recvBuffer.size();
    size_t pos = 0;
    while (size >= kFrameSize && pos <= size - kFrameSize) {
        const uint8_t* base = recvBuffer.data();
        // The next candidate: here already (a run of markers costs no call),
        // or found by memchr.
        if (base[pos] != kStartMarker) {
            const void* marker = std::memchr(base + pos, kStartMarker, size - kFrameSize + 1 - pos);
            if (marker == nullptr) {
                pos = size - kFrameSize + 1;
                break;
            }
            pos = static_cast<size_t>(static_cast<const uint8_t*>(marker) - base);
        }
        if (!hasFrameMarkers(base + pos)) {
            ++pos;
            continue;
        }
        GateFrame frame;
        std::copy_n(base + pos, kFrameSize, frame.begin());
        if (frame[3] != 0) {
            if (pushCallback) {
                callGuarded("push", [&] {
                    pushCallback(frame, frame[4], frame[5], frame[6], frame[7], frame[8], frame[11],
                                 frame[12]);
                });
            }
        } else if (responseCallback) {
            callGuarded("response",
                        [&] { responseCallback(frame, frame[4], frame[5], frame[7], frame[11]); });
        }
        pos += kFrameSize;
    }
    while (pos < size && recvBuffer[pos] != kStartMarker) ++pos;
    recvBuffer.erase(recvBuffer.begin(), recvBuffer.begin() + static_cast<std::ptrdiff_t>(pos));
}
