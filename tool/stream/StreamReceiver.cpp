#include "stream/StreamReceiver.h"

#include <array>
#include <cstdint>
#include <string>

#include "core/ByteOrder.h"
#include "core/SharedState.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "core/Utc8Time.h"
#include "stream/StreamFrame.h"

namespace {

enum class FrameResult { Stored, Skipped, Failed };

// Headers with bad markers in a row after which the stream is taken as out of
// step: a stray byte shifts every later header, and frame lengths being
// multiples of 4, header-by-header skipping would never line up again. The
// receive-error path reconnects, and a new connection starts in step.
constexpr int kMaxBadHeadersInARow = 3;

// Reusable buffers of the receiver: the point block grows to the largest frame
// seen and is kept, so a steady stream allocates nothing per frame.
struct ReceiverBuffers {
    std::string points;
    std::array<uint8_t, kMaxObjRecords * kObjRecordSize> objBytes{};
    std::array<ObjRecord, kMaxObjRecords> objects{};
    int badHeadersInARow = 0;
};

bool recvInt32(SharedState& state, int32_t& value) {
    uint8_t bytes[4];
    if (state.RecvExact(bytes, sizeof bytes) != 0) return false;
    value = readI32le(bytes);
    return true;
}

// Reads one frame; Skipped for headers with bad markers or without a body.
FrameResult receiveFrame(SharedState& state, ReceiverBuffers& buf) {
    uint8_t headerBytes[kStreamHeaderSize];
    if (state.RecvExact(headerBytes, sizeof headerBytes) != 0) return FrameResult::Failed;
    const StreamHeader header = decodeStreamHeader(headerBytes);
    tracef("tHead-datalen = %d\n", header.datalen);
    if (!streamMarkersValid(header)) {
        // A single bad header is skipped: the next 20 bytes are taken as the
        // next header.
        tracef("tHead.fron = %0X, Head.end = %0X\n", header.fron, header.end);
        if (++buf.badHeadersInARow >= kMaxBadHeadersInARow) return FrameResult::Failed;
        return FrameResult::Skipped;
    }
    buf.badHeadersInARow = 0;
    if (header.type != kPointFrameType) return FrameResult::Skipped;

    int32_t pointLen = 0;
    if (!recvInt32(state, pointLen)) return FrameResult::Failed;
    tracef("pointLen = %d\n", pointLen);
    // A length no device sends means the stream is out of step; never allocate on it.
    if (!pointLenPlausible(pointLen)) return FrameResult::Failed;
    buf.points.resize(static_cast<size_t>(pointLen));
    if (state.RecvExact(buf.points.data(), pointLen) != 0) return FrameResult::Failed;

    int32_t objnum = 0;
    if (!recvInt32(state, objnum)) return FrameResult::Failed;
    tracef("[%s] objnum = %d\n", streamTimestamp(nowEpochMs()).c_str(), objnum);
    if (!objnumPlausible(objnum)) return FrameResult::Failed;
    if (objnum > 0) {
        if (state.RecvExact(buf.objBytes.data(), objnum * static_cast<int>(kObjRecordSize)) != 0)
            return FrameResult::Failed;
        for (int i = 0; i < objnum; ++i) {
            const ObjRecord r = decodeObjRecord(buf.objBytes.data() + i * kObjRecordSize);
            buf.objects[i] = r;
            tracef("[%f %f][%.02f %.02f %.02f %.02f ]\n", static_cast<double>(r.kind),
                   static_cast<double>(r.value), static_cast<double>(r.x1),
                   static_cast<double>(r.x2), static_cast<double>(r.y1), static_cast<double>(r.y2));
        }
    }

    uint8_t areaBytes[kAreaBlockSize];
    if (state.RecvExact(areaBytes, sizeof areaBytes) != 0) return FrameResult::Failed;
    state.StoreFrame(buf.points, objnum, buf.objects.data(), decodeAreaBlock(areaBytes));
    return FrameResult::Stored;
}

// A failed receive or an impossible frame: drop the connection; the
// connection phase reconnects.
void failConnection(SharedState& state) {
    tracef("recv error!!!\n");
    state.connState = 0;
    std::lock_guard<std::mutex> lock(state.streamMutex);
    if (!state.stream) state.stream = std::make_unique<TcpClient>();
    state.stream->Close();
}

// Connection phase: true once connected, false to look again after the wait.
bool ensureConnected(SharedState& state) {
    if (state.connState.load() == 1) return true;
    // A login that connects during the wait ends it: the stream starts at once
    // instead of after the rest of the 5 s, and no failure is reported for it.
    if (state.WaitUntilConnected(ShellTiming::ms(shellTiming().streamReconnectWaitMs))) return true;
    if (state.receiverStop.requested()) return false;
    tracef("连接服务器失败!\n");
    // Only a lost connection (0) is the receiver's to restore. Before any
    // login (-1) it only waits; a login that has just connected (1) must not
    // be connected over, which would fail and close the login's socket.
    const int conn = state.connState.load();
    if (conn != 0) return conn == 1;
    if (!state.ConnectStream()) return false;
    std::lock_guard<std::mutex> lock(state.streamMutex);
    if (!state.stream) state.stream = std::make_unique<TcpClient>();
    state.stream->SetStreamOptions();
    return true;
}

}  // namespace

void RunStreamReceiver(SharedState& state) {
    ReceiverBuffers buffers;
    while (!state.receiverStop.requested()) {
        if (!ensureConnected(state)) continue;
        while (!state.receiverStop.requested()) {
            if (receiveFrame(state, buffers) == FrameResult::Failed) {
                // After a stop request the failure is the teardown's doing,
                // not a lost connection.
                if (state.receiverStop.requested()) return;
                buffers.badHeadersInARow = 0;
                failConnection(state);
                break;
            }
        }
    }
}
