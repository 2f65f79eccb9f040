// The process-wide meeting point of the dialogs and the stream receiver: the
// device address, the stream connection and the latest stream frame.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "stream/StreamRecords.h"

constexpr uint16_t kStreamPort = 58100;

class SharedState {
public:
    // The one instance of the process, created on first use, never destroyed.
    static SharedState& instance();

    // Separate instances exist only in tests; destroying one stops and joins
    // its receiver (it notices within one receive time-out).
    SharedState();
    ~SharedState();
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    // Makes ip the device address and prepares the stream socket; the first
    // call starts the stream receiver.
    void OpenStream(const std::string& ip);
    // Connects the stream socket (no lock taken); sets connState = 1 on success.
    bool ConnectStream();
    // Receives exactly length bytes under streamMutex: 0 on success, -1 as
    // soon as one receive returns 0 or less. length <= 0 returns 0 at once.
    int RecvExact(void* buffer, int length);
    // Producer side of the frame hand-off: only the latest frame survives.
    // The point block is taken over by swapping, so a 460 KB frame is never
    // copied; points is left holding an older buffer for the caller to reuse.
    void StoreFrame(std::string& points, int32_t objnum, const ObjRecord* records,
                    const AreaBlock& areaBlock);
    // Waits up to timeout for a login to connect the stream (connState 1) or
    // for a stop request; true when connected.
    bool WaitUntilConnected(std::chrono::milliseconds timeout);

    // Latest frame, guarded by frameMutex.
    std::mutex frameMutex;
    std::condition_variable frameCond;
    std::string pointData;
    int32_t objCount = 0;
    std::vector<ObjRecord> objects;
    AreaBlock areas{};
    bool frameReady = false;

    bool receiverStarted = false;
    std::string deviceIp;
    uint16_t streamPort = 0;

    // Guards stream and every receive on it.
    std::mutex streamMutex;
    // -1 no connection yet, 1 connected, 0 lost (the receiver reconnects).
    std::atomic<int32_t> connState{-1};
    std::unique_ptr<TcpClient> stream;

    // Stop request of the receiver (only test instances are ever stopped).
    StopFlag receiverStop;

private:
    std::thread receiverThread_;
    // Wakes a receiver that waits for the first connection.
    std::mutex connWaitMutex_;
    std::condition_variable connWaitCond_;
};

// Copies the device address of the process-wide state (every client of the
// device connects to this address on its own port). Takes a lock of its own,
// so it never waits behind a blocking stream receive.
std::string currentDeviceIp();

// The device address of any state (the process-wide one or a test's), under
// the same lock of its own.
std::string deviceIpOf(SharedState& state);
