// Public interface of KestSdk_Win: a client for the gate-linkage port of one
// passage-monitoring device. Frames are 16 bytes in both directions:
//   7E 00 01 kind p1 p2 p3 p4 p5 00 00 p6 p7 AA BB 7E
// kind 0 marks a response from the device, any other kind a push (alarm, door).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#if defined(KESTSDK_BUILDING)
#define KESTSDK_API __declspec(dllexport)
#else
#define KESTSDK_API __declspec(dllimport)
#endif
#else
#define KESTSDK_API __attribute__((visibility("default")))
#endif

using GateFrame = std::array<uint8_t, 16>;
using PushCallback = std::function<void(const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t,
                                        uint8_t, uint8_t, uint8_t, uint8_t)>;
using ResponseCallback =
    std::function<void(const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t, uint8_t)>;

// Socket handle wide enough for a Winsock SOCKET; -1 while closed.
using SocketHandle = std::intptr_t;

class KESTSDK_API SocketClient {
public:
    SocketClient();
    ~SocketClient();
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    bool connectTo(const std::string& host, int port);

protected:
    // Shuts down and closes the socket under both locks (send before recv).
    void closeSocket();

    // Closes the socket if it is still the one of the given link generation;
    // a socket another thread has already replaced is left alone.
    void closeSocketIfCurrent(uint64_t generation);

    SocketHandle socketHandle;
    // Counts every close and replacement of the socket (under both locks), so
    // that bytes kept from one link are never joined to the next link's.
    uint64_t linkGeneration;
    std::string lastHost;
    int lastPort;
    bool winsockStarted;
    std::mutex sendMutex;
    std::mutex recvMutex;
};

class KESTSDK_API DeviceClient : public SocketClient {
public:
    DeviceClient();
    ~DeviceClient();

    bool init(const std::string& host, int port);
    bool connect();
    void disconnect();
    bool reconnect();
    bool isConnected() const;

    void startAutoReconnect();
    void stopAutoReconnect();
    void startReceiveThread();
    void stopReceiveThread();

    int receiveAndProcess();

    void setPushCallback(std::function<void(const std::array<uint8_t, 16>&, uint8_t, uint8_t,
                                            uint8_t, uint8_t, uint8_t, uint8_t, uint8_t)>
                             callback);
    void setResponseCallback(
        std::function<void(const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t, uint8_t)>
            callback);

    bool sendAuthorization(uint8_t first, uint8_t second);
    bool sendHeartbeat();
    bool sendTimeoutSetting(uint8_t timeout);
    bool sendRawFrame(const uint8_t* const frame);

private:
    // Lets the library's tests reach the frame builder and the receive path
    // without a socket; not part of the interface.
    friend struct DeviceClientTestAccess;

    void autoReconnectThread();
    void receiveThreadFunc();
    void parseBufferForFrames();
    void buildBaseFrame(std::array<uint8_t, 16>& frame);
    void buildAndSend(uint8_t frameKind, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5,
                      uint8_t p6, uint8_t p7);
    void feedRecvData(const uint8_t* data, size_t length);
    bool validateFrame(const std::array<uint8_t, 16>& frame);

    std::string targetHost;
    int targetPort;
    std::vector<uint8_t> recvBuffer;
    uint64_t bufferGeneration;  // the link recvBuffer's bytes came from
    std::mutex bufferMutex;
    PushCallback pushCallback;
    ResponseCallback responseCallback;
    std::atomic<bool> autoReconnectRunning;
    std::thread reconnectThread;
    std::atomic<bool> receiveRunning;
    std::thread receiveThread;
};
