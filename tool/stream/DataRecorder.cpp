#include "stream/DataRecorder.h"

#include <sys/socket.h>

#include <vector>

#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "core/Trace.h"
#include "core/Utc8Time.h"
#include "stream/CollectionFormat.h"
#include "stream/PointDataWriter.h"

namespace {

class Recorder {
public:
    Recorder(RecorderControl& control, TcpClient& client, const StopFlag& teardown)
        : control_(control), client_(client), teardown_(teardown) {}

    void run(const std::string& ip, const std::string& folder);

private:
    bool connectOnce();
    bool askForData(bool firstConnection);
    bool reconnect();
    void recordFrames();
    void endConnection();
    void fpsStep();

    RecorderControl& control_;
    TcpClient& client_;
    const StopFlag& teardown_;
    PointDataWriter writer_;
    bool connected_ = false;
    int64_t fpsBaseMs_ = 0;
    int frameCount_ = 0;
    // Grows to the largest payload seen and is kept between frames.
    std::vector<uint8_t> payload_;
};

bool Recorder::connectOnce() {
    // No target (Init failed) is no connection, and a socket whose connect
    // failed is closed, so the next attempt starts from a fresh one.
    if (client_.Connect()) return true;
    tracef("链接采集服务器:[%s][%d]失败!\n", client_.ip, client_.port);
    return false;
}

// The one request of a connection and the server's response header, which is
// read whole and not examined. On the first connection a failed send does not
// stop the receive (the loop's reconnection is what ends such a link).
bool Recorder::askForData(bool firstConnection) {
    uint8_t request[kCollectionHeaderSize];
    encodeCollectionHeader(CollectionHeader{}, request);
    if (!client_.SendAll(request, sizeof request)) {
        tracef("发送数据请求失败!\n");
        if (!firstConnection) return false;
    }
    uint8_t response[kCollectionHeaderSize];
    if (!client_.ReceiveAll(response, sizeof response)) {
        tracef("接收响应失败!\n");
        return false;
    }
    return true;
}

bool Recorder::reconnect() {
    if (!connectOnce()) {
        teardown_.sleepFor(RecorderTiming::ms(recorderTiming().reconnectWaitMs));
        return false;
    }
    client_.SetStreamOptions();
    if (!askForData(false)) {
        client_.Close();
        return false;
    }
    connected_ = true;
    return true;
}

void Recorder::endConnection() {
    tracef("断开连接！\n");
    client_.Close();
    connected_ = false;
}

void Recorder::fpsStep() {
    const int64_t now = nowEpochMs();
    if (now - fpsBaseMs_ < recorderTiming().fpsIntervalMs.load()) return;
    tracef("[%s:%d] -> fps:%d\n", client_.ip, client_.port, frameCount_);
    fpsBaseMs_ = now;
    frameCount_ = 0;
}

// Frames until the connection ends or the stop request is seen.
void Recorder::recordFrames() {
    for (;;) {
        fpsStep();
        uint8_t headerBytes[kCollectionHeaderSize];
        if (!client_.ReceiveAll(headerBytes, sizeof headerBytes)) {
            tracef("接收协议头失败!\n");
            break;
        }
        if (!collectionMarkersValid(decodeCollectionHeader(headerBytes))) {
            // No search for the markers: the next 40 bytes are taken as a header.
            if (control_.m_recordStop.load() == 1) break;
            continue;
        }
        uint8_t blockBytes[kCollectionBlockSize];
        if (!client_.ReceiveAll(blockBytes, sizeof blockBytes)) {
            tracef("接收协议体失败!\n");
            break;
        }
        const CollectionBlock block = decodeCollectionBlock(blockBytes);
        tracef("time = %lld--\n", static_cast<long long>(block.time));
        ++frameCount_;
        if (!collectionPayloadPlausible(block.psize)) {
            // The stream is out of step: no buffer is grown on this length.
            tracef("psize = %d 超出范围!\n", block.psize);
            break;
        }
        const size_t payloadSize = collectionPayloadSize(block);
        if (payload_.size() < payloadSize) payload_.resize(payloadSize);
        if (!client_.ReceiveAll(payload_.data(), payloadSize)) {
            tracef("接收协议体失败!\n");
            break;
        }
        // presize beyond the payload would take bytes that never came: cut to it.
        const size_t recordSize = collectionRecordSize(block);
        tracef("psize = %d, rsize = %d, presize = %d，useStringlen = %d\n", block.psize, 0,
               block.presize, static_cast<int>(recordSize));
        writer_.Write(payload_.data(), recordSize, block.time);
        if (control_.m_recordStop.load() == 1) break;
    }
    endConnection();
}

void Recorder::run(const std::string& ip, const std::string& folder) {
    tracef("%s--%d\n", ip.c_str(), kCollectionPort);
    if (!client_.Init(ip.c_str(), kCollectionPort))
        tracef("init %s:%d fail!\n", ip.c_str(), kCollectionPort);
    // The first connection is retried without end (only a test's teardown ends it).
    while (!connectOnce()) {
        if (!teardown_.sleepFor(RecorderTiming::ms(recorderTiming().reconnectWaitMs))) return;
    }
    client_.SetStreamOptions();
    askForData(true);  // a failure here shows as a failed receive in the loop
    connected_ = true;

    writer_.Init(folder, ip);
    fpsBaseMs_ = nowEpochMs();
    frameCount_ = 0;
    control_.m_recordStop = 0;
    while (control_.m_recordStop.load() == 0 && !teardown_.requested()) {
        if (!connected_ && !reconnect()) continue;
        if (control_.m_recordStop.load() == 1) {
            endConnection();
            break;
        }
        recordFrames();
    }
    if (connected_) endConnection();
}

}  // namespace

RecorderTiming& recorderTiming() {
    static RecorderTiming timing;
    return timing;
}

TcpClient& collectionClient() {
    // Lives until the process ends, like the recorder thread that may use it.
    static TcpClient* const client = new TcpClient();
    return *client;
}

void RunDataRecorder(RecorderControl& control, TcpClient& client, const std::string& deviceIp,
                     const std::string& folder, const StopFlag& teardown) {
    {
        Recorder recorder(control, client, teardown);
        recorder.run(deviceIp, folder);
    }  // the writer closes its file here
    control.m_recordRunning = false;
}
