#include "stream/StreamReceiver.h"

#include "core/SharedState.h"
#include "core/ThreadName.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "stream/StreamFrameReader.h"

namespace {

// One frame from the stream socket, handed to the shared state when stored.
FrameResult receiveFrame(SharedState& state, StreamReadState& buf) {
    const ReadExact read = [&state](void* buffer, int length) {
        return state.RecvExact(buffer, length) == 0;
    };
    const FrameResult result = readStreamFrame(read, buf);
    if (result == FrameResult::Stored)
        state.StoreFrame(buf.points, buf.objnum, buf.objects.data(), buf.areas);
    return result;
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
    nameThisThread("kest-receiver");
    StreamReadState buffers;
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
