// Stream frames as the device's stream server sends them: the input is the
// byte stream of one connection, read frame after frame as the receiver
// does until the reader gives up (as the receiver would, by reconnecting).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/Trace.h"
#include "stream/StreamFrame.h"
#include "stream/StreamFrameReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        setTraceSink([](TraceStream, const std::string&) {});
        return true;
    }();
    (void)quiet;

    size_t at = 0;
    const ReadExact read = [&](void* buffer, int length) {
        if (length < 0 || static_cast<size_t>(length) > size - at) return false;
        std::memcpy(buffer, data + at, static_cast<size_t>(length));
        at += static_cast<size_t>(length);
        return true;
    };
    StreamReadState state;
    for (;;) {
        const size_t before = at;
        const FrameResult result = readStreamFrame(read, state);
        if (result == FrameResult::Failed) break;
        if (at == before) std::abort();  // no progress: the receiver would spin
        // Out of step for more bad headers than the limit, yet still reading.
        if (state.badHeadersInARow >= kMaxBadHeadersInARow) std::abort();
        if (result == FrameResult::Stored) {
            if (state.objnum < 0 || state.objnum > kMaxObjRecords) std::abort();
            if (state.points.size() > static_cast<size_t>(kMaxPointLen)) std::abort();
        }
    }
    return 0;
}
