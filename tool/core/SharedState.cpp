#include "core/SharedState.h"

#include <sys/socket.h>

#include "core/Timing.h"
#include "core/Trace.h"
#include "stream/StreamReceiver.h"

namespace {
// deviceIp is written under streamMutex and this lock; currentDeviceIp() takes
// only this one, so a reader never waits behind a blocking stream receive.
std::mutex g_deviceIpMutex;
}  // namespace

SharedState& SharedState::instance() {
    // Never destroyed: the stream receiver may still use it while the process ends.
    static SharedState* const state = new SharedState();
    return *state;
}

SharedState::SharedState() = default;

SharedState::~SharedState() {
    receiverStop.request();
    { std::lock_guard<std::mutex> lock(connWaitMutex_); }
    connWaitCond_.notify_all();
    if (receiverThread_.joinable()) receiverThread_.join();
}

void SharedState::OpenStream(const std::string& ip) {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!receiverStarted) {
        receiverStarted = true;
        {
            std::lock_guard<std::mutex> ipLock(g_deviceIpMutex);
            deviceIp = ip;
        }
        streamPort = kStreamPort;
        if (!stream) stream = std::make_unique<TcpClient>();
        stream->Init(ip.c_str(), kStreamPort);
        receiverThread_ = std::thread(RunStreamReceiver, std::ref(*this));
        return;
    }
    if (ip == deviceIp && streamPort == kStreamPort) {
        // Same device: drop the old socket, the next ConnectStream makes a fresh one.
        if (!stream) stream = std::make_unique<TcpClient>();
        stream->Close();
        return;
    }
    {
        std::lock_guard<std::mutex> ipLock(g_deviceIpMutex);
        deviceIp = ip;
    }
    streamPort = kStreamPort;
    if (stream) {
        stream->Close();
        stream.reset();
    }
    stream = std::make_unique<TcpClient>();
    stream->Init(ip.c_str(), kStreamPort);
}

bool SharedState::ConnectStream() {
    if (!stream) stream = std::make_unique<TcpClient>();
    TcpClient& client = *stream;
    // 0.0.0.0 would reach this machine rather than a device.
    const bool haveTarget = client.addr.sin_family == AF_INET && client.addr.sin_addr.s_addr != 0;
    if (haveTarget && client.sock == kInvalidSocket)
        client.sock = ::socket(AF_INET, SOCK_STREAM, 0);
    // Bounded: the login dialog waits for this connect.
    if (haveTarget && client.sock != kInvalidSocket &&
        connectWithin(client.sock, client.addr, shellTiming().connectTimeoutMs.load())) {
        // The receiver starts receiving as soon as it sees connState 1: the
        // receive time-out must already be in place then, or a silent device
        // would hold streamMutex for ever.
        client.SetStreamOptions();
        // Read before the receiver may use (or close) the socket.
        const int receiveBuffer = client.ReceiveBufferBytes();
        {
            std::lock_guard<std::mutex> lock(connWaitMutex_);
            connState = 1;
        }
        connWaitCond_.notify_all();
        tracef("connect success!!!!\n");
        tracef("stream SO_RCVBUF = %d\n", receiveBuffer);
        return true;
    }
    // A socket whose connect failed cannot be reused portably: the next
    // attempt creates a fresh one.
    client.Close();
    tracef("connect fail!!!!\n");
    return false;
}

int SharedState::RecvExact(void* buffer, int length) {
    if (length <= 0) return 0;
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!stream) stream = std::make_unique<TcpClient>();
    return stream->RecvExact(buffer, length);
}

bool SharedState::WaitUntilConnected(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(connWaitMutex_);
    connWaitCond_.wait_for(lock, timeout,
                           [this] { return connState.load() == 1 || receiverStop.requested(); });
    return connState.load() == 1;
}

void SharedState::StoreFrame(std::string& points, int32_t objnum, const ObjRecord* records,
                             const AreaBlock& areaBlock) {
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        pointData.swap(points);
        objCount = objnum;
        objects.clear();
        if (records && objnum > 0) objects.assign(records, records + objnum);
        areas = areaBlock;
        frameReady = true;
        frameCond.notify_one();
    }
}

std::string currentDeviceIp() {
    return deviceIpOf(SharedState::instance());
}

std::string deviceIpOf(SharedState& state) {
    std::lock_guard<std::mutex> lock(g_deviceIpMutex);
    return state.deviceIp;
}
