// DeviceClient: connection management, the receive step and the two optional
// background threads (automatic reconnection, receive loop).
#include "KestSdk/DeviceClient.h"

#include <chrono>
#include <string>
#include <utility>

#include "ClientConsole.h"
#include "KestSdk/DeviceClientTiming.h"
#include "SocketPort.h"

using namespace kestsdk;

namespace {

constexpr size_t kReadChunk = 1024;

// Shared by every client of the process: start of the latest receive step and
// latest arrival of data (or idle close), in ms of the system clock.
std::atomic<int64_t> lastPollMs{0};
std::atomic<int64_t> lastDataMs{0};

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

DeviceClient::DeviceClient()
    : targetHost(),
      targetPort(0),
      recvBuffer(),
      bufferGeneration(0),
      pushCallback(),
      responseCallback(),
      autoReconnectRunning(false),
      reconnectThread(),
      receiveRunning(false),
      receiveThread() {}

// Threads first (they use the socket and the callbacks), then the socket; the
// members and the SocketClient part follow in reverse declaration order.
DeviceClient::~DeviceClient() {
    stopAutoReconnect();
    stopReceiveThread();
    closeSocket();
}

bool DeviceClient::init(const std::string& host, int port) {
    targetHost = host;
    targetPort = port;
    return true;
}

// connectTo replaces an open connection, so a second connect() never leaks.
bool DeviceClient::connect() {
    return connectTo(targetHost, targetPort);
}

void DeviceClient::disconnect() {
    closeSocket();
}

bool DeviceClient::reconnect() {
    closeSocket();
    std::string host;
    int port = 0;
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        host = lastHost;
        port = lastPort;
    }
    return connectTo(host, port);
}

bool DeviceClient::isConnected() const {
    const SocketHandle s = net::loadHandle(socketHandle);
    if (s == net::kInvalid) return false;
    int error = 0;
    return net::pendingError(s, error) && error == 0;
}

int DeviceClient::receiveAndProcess() {
    lastPollMs = nowMs();
    uint8_t chunk[kReadChunk] = {};

    if (net::loadHandle(socketHandle) != net::kInvalid) {
        std::unique_lock<std::mutex> recvLock(recvMutex);
        // The socket may have been closed while this thread waited.
        const SocketHandle s = net::loadHandle(socketHandle);
        if (s != net::kInvalid) {
            traceOut("begin recvi!\n");
            int n;
            do {
                n = net::recvSome(s, chunk, sizeof chunk);
            } while (n < 0 && net::isRecvRetry(net::lastError()));
            bool closed = false;
            if (n > 0) {
                traceOut("success!!!\n");
                const uint64_t generation = linkGeneration;
                recvLock.unlock();
                lastDataMs = nowMs();
                std::lock_guard<std::mutex> bufferLock(bufferMutex);
                // A partial frame kept from an earlier link can never be
                // completed by this one: joined to it, it would make a frame
                // the device never sent and swallow the first real one.
                if (generation > bufferGeneration) {
                    recvBuffer.clear();
                    bufferGeneration = generation;
                }
                if (generation == bufferGeneration) {
                    recvBuffer.insert(recvBuffer.end(), chunk, chunk + n);
                    parseBufferForFrames();
                }
                return n;
            } else if (n == 0) {
                traceOut("close!!\n");
                closed = true;
            } else {
                const int code = net::lastError();
                if (net::isWouldBlock(code) || net::isTimedOut(code)) {
                    traceOut("error = " + std::to_string(code) + "\n");
                    closed = true;
                } else {
                    messageErr("recv failed: " + std::to_string(code));
                }
            }
            recvLock.unlock();
            if (closed) {
                stampedOut("Server closed connection");
                closeSocket();
                return 0;
            }
        }
    }

    traceOut("no data!!!!\n");
    if (lastPollMs.load() - lastDataMs.load() >= deviceClientTiming().idleCloseMs.load()) {
        closeSocket();
        lastDataMs = nowMs();
    }
    return -1;
}

namespace {

// Start of one of the client's two background threads: nothing when it runs
// already; a failed thread creation clears the run flag before it propagates.
template <typename Body>
void startBackground(std::atomic<bool>& running, std::thread& thread, Body body) {
    if (running) return;
    running = true;
    try {
        thread = std::thread(std::move(body));
    } catch (...) {
        running = false;
        throw;
    }
}

// Also joins a thread whose earlier stop failed (a stop from inside it), so
// that destruction never meets a joinable thread.
void stopBackground(std::atomic<bool>& running, std::thread& thread) {
    running = false;
    if (thread.joinable()) thread.join();
}

}  // namespace

void DeviceClient::startAutoReconnect() {
    startBackground(autoReconnectRunning, reconnectThread, [this] { autoReconnectThread(); });
}

void DeviceClient::stopAutoReconnect() {
    stopBackground(autoReconnectRunning, reconnectThread);
}

void DeviceClient::startReceiveThread() {
    startBackground(receiveRunning, receiveThread, [this] { receiveThreadFunc(); });
}

void DeviceClient::stopReceiveThread() {
    stopBackground(receiveRunning, receiveThread);
}

void DeviceClient::autoReconnectThread() {
    DeviceClientTiming& timing = deviceClientTiming();
    while (autoReconnectRunning) {
        if (!isConnected()) {
            stampedOut("Connection lost, attempting to reconnect...");
            if (reconnect()) {
                messageOut("Reconnected successfully!");
            } else {
                messageOut("Reconnect failed, will retry in 3 seconds...");
            }
        }
        const int steps = timing.reconnectSleepCount.load();
        for (int i = 0; i < steps && autoReconnectRunning; ++i) sleepMs(timing.reconnectSleepMs);
    }
}

void DeviceClient::receiveThreadFunc() {
    DeviceClientTiming& timing = deviceClientTiming();
    while (receiveRunning) {
        if (!isConnected()) {
            sleepMs(timing.disconnectedWaitMs);
            lastPollMs = 0;
            lastDataMs = 0;
        } else if (receiveAndProcess() <= 0) {
            sleepMs(timing.noDataPauseMs);
        }
    }
}
