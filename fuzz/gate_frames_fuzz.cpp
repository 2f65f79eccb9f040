// The gate-linkage receive path: the input is cut into chunks (sizes taken
// from its first bytes) and fed to the client as reads would bring them. The
// frames delivered must be exactly those a plain scan of the whole byte
// stream finds, however the stream was cut, and the client may keep no more
// than the start of one frame between reads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "DeviceClientTestAccess.h"
#include "KestSdk/DeviceClient.h"

namespace {

constexpr size_t kFrame = 16;

bool isFrame(const uint8_t* p) {
    return p[0] == 0x7E && p[15] == 0x7E && p[13] == 0xAA && p[14] == 0xBB;
}

// Frames of the stream in order: at each position either a whole frame
// (taken) or not (one byte skipped).
std::vector<GateFrame> scan(const uint8_t* data, size_t size) {
    std::vector<GateFrame> out;
    size_t pos = 0;
    while (size >= kFrame && pos <= size - kFrame) {
        if (!isFrame(data + pos)) {
            ++pos;
            continue;
        }
        GateFrame f;
        for (size_t i = 0; i < kFrame; ++i) f[i] = data[pos + i];
        out.push_back(f);
        pos += kFrame;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        std::cout.setstate(std::ios::badbit);  // the library's trace lines
        std::cerr.setstate(std::ios::badbit);
        return true;
    }();
    (void)quiet;
    if (size < 2) return 0;
    // Two chunk sizes, used in turn (1 to 64 bytes each).
    const size_t sizes[2] = {static_cast<size_t>(data[0] % 64) + 1,
                             static_cast<size_t>(data[1] % 64) + 1};
    data += 2;
    size -= 2;

    DeviceClient client;
    std::vector<GateFrame> seen;
    client.setPushCallback([&](const GateFrame& f, uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7,
                               uint8_t b8, uint8_t b11, uint8_t b12) {
        if (f[3] == 0 || b4 != f[4] || b5 != f[5] || b6 != f[6] || b7 != f[7] || b8 != f[8] ||
            b11 != f[11] || b12 != f[12])
            std::abort();
        seen.push_back(f);
    });
    client.setResponseCallback(
        [&](const GateFrame& f, uint8_t b4, uint8_t b5, uint8_t b7, uint8_t b11) {
            if (f[3] != 0 || b4 != f[4] || b5 != f[5] || b7 != f[7] || b11 != f[11]) std::abort();
            seen.push_back(f);
        });
    size_t at = 0;
    for (int turn = 0; at < size; turn ^= 1) {
        const size_t n = sizes[turn] < size - at ? sizes[turn] : size - at;
        DeviceClientTestAccess::feedRecvData(client, data + at, n);
        at += n;
        if (DeviceClientTestAccess::bufferedBytes(client) >= kFrame) std::abort();
    }
    if (seen != scan(data, size)) std::abort();
    return 0;
}
