// The registration client thread: connection, request loop, point set and
// result, as the device's registration server expects them.
#include <sys/socket.h>

#include <array>
#include <thread>

#include "core/TcpClient.h"
#include "core/Trace.h"
#include "registration/RegistrationRun.h"
#include "registration/RegistrationTiming.h"
#include "registration/RegistrationWire.h"

namespace {

using Ms = std::chrono::milliseconds;

Ms timingMs(const std::atomic<int>& v) {
    return RegistrationTiming::ms(v);
}

// Connects, retrying every reconnectWaitMs without limit; false only when the
// run is stopped meanwhile.
bool connectWithRetry(TcpClient& client, RegistrationRun& run) {
    while (!client.Connect()) {
        tracef("链接配准服务器:[%s][%d]失败!\n", client.ip, static_cast<int>(kRegistrationPort));
        if (!run.stop.sleepFor(timingMs(registrationTiming().reconnectWaitMs))) return false;
    }
    client.SetStreamOptions();
    tracef("链接配准服务器：[%s][%d]成功！\n", client.ip, static_cast<int>(kRegistrationPort));
    return true;
}

bool sendBytes(TcpClient& client, const uint8_t* data, size_t size) {
    // The whole record, or a failure: a send that took only part of it must
    // not be traced as done. No SIGPIPE when the server has gone.
    return client.SendAll(data, size);
}

// The server speaks only when asked: bytes already waiting before the next
// request belong to no reply of it, so the exchange is out of step, and no
// answer read after them could be trusted (a noisy peer would otherwise be
// read four bytes a poll, each taken as "nothing for the client", for ever).
bool unrequestedBytesWaiting(const TcpClient& client) {
    uint8_t byte = 0;
    return ::recv(client.sock, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

// Answer 1: the header and the point bytes. false after a failure line.
bool receivePointSet(TcpClient& client, RegistrationRun& run) {
    uint8_t headerBytes[kRegPointHeaderSize];
    if (client.RecvExact(headerBytes, sizeof headerBytes) != 0) {
        tracef("接收sRegPointdata失败!\n");
        return false;
    }
    const RegPointHeader header = DecodeRegPointHeader(headerBytes);
    tracef("sRegPointdata: width = %u, height = %u, length = %d\n", header.width, header.height,
           header.length);
    // A negative or oversized length, or a width x height past any camera,
    // means the exchange is out of step: never allocate on it.
    if (!RegPointHeaderPlausible(header)) {
        tracef("接收sRegPointdata失败!\n");
        return false;
    }
    std::string bytes(static_cast<size_t>(header.length), '\0');
    if (client.RecvExact(bytes.data(), header.length) != 0) {
        tracef("接收pdata失败!\n");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(run.pointDataMutex);
        run.pointBytes.swap(bytes);
        run.width = header.width;
        run.height = header.height;
    }
    return true;
}

// Sends the stored result; the run ends either way.
void sendResult(TcpClient& client, RegistrationRun& run) {
    std::array<uint8_t, kRegResultSize> record{};
    {
        std::lock_guard<std::mutex> lock(run.resultMutex);
        record = EncodeRegResult(run.resultMatrix.get(), run.resultAreas);
    }
    if (!sendBytes(client, record.data(), record.size())) {
        tracef("发送配准结果失败!\n");
        return;
    }
    tracef("发送配准结果完成！\n");
    run.stop.sleepFor(timingMs(registrationTiming().resultSettleMs));
    run.registrationState.exchange(kRegStateEnd);
}

// The request loop, until the run ends, the result is sent or a step fails.
void exchange(TcpClient& client, RegistrationRun& run) {
    for (;;) {
        const int32_t state = run.registrationState.load();
        if (state == kRegStateEnd || run.stop.requested()) return;
        if (state == kRegStateSendResult) {
            sendResult(client, run);
            return;
        }
        if (unrequestedBytesWaiting(client)) {
            tracef("配准服务器发来未请求的数据，数据不同步\n");
            tracef("接收配准数据请求失败!\n");
            return;
        }
        const auto request = EncodeRegRequest(static_cast<uint32_t>(state));
        if (!sendBytes(client, request.data(), request.size())) {
            tracef("发送配准数据请求失败!\n");
            return;
        }
        uint8_t replyBytes[kRegReplySize];
        if (client.RecvExact(replyBytes, sizeof replyBytes) != 0) {
            tracef("接收配准数据请求失败!\n");
            return;
        }
        const uint32_t answer = DecodeRegReply(replyBytes);
        if (answer == kRegAnswerPoints) {
            if (!receivePointSet(client, run)) return;
            run.pointDataReady = 1;
            run.notify();
        }
        if (answer != kRegAnswerNothing) {
            // Only in place of the state that was sent: a 2 or -1 written by
            // the registration thread meanwhile stays.
            int32_t expected = state;
            run.registrationState.compare_exchange_strong(expected, kRegStateIdle);
        }
        if (!run.stop.sleepFor(timingMs(registrationTiming().pollMs))) return;
    }
}

}  // namespace

void RegistrationService::clientThread(std::shared_ptr<RegistrationRun> run, std::string deviceIp) {
    run->registrationState.exchange(kRegStateWantPoints);
    TcpClient client;
    client.Init(deviceIp.c_str(), kRegistrationPort);
    if (connectWithRetry(client, *run)) exchange(client, *run);
    client.Close();
    run->clientEnded = true;
    run->notify();
    registrationRunning = false;
    threadEnded();
}
