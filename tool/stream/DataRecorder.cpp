#include "stream/DataRecorder.h"

#include <algorithm>
#include <vector>

#include "core/SocketWait.h"
#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "core/Timing.h"
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
    RecorderOutcome outcome() const;

private:
    bool stopRequested() const;
    bool pauseBeforeReconnect();
    ReceiveEnd receivePart(void* buffer, size_t length);
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
    bool writeFailed_ = false;
    int64_t fpsBaseMs_ = 0;
    int frameCount_ = 0;
    // Grows to the largest payload seen and is kept between frames.
    std::vector<uint8_t> payload_;
};

bool Recorder::stopRequested() const {
    return control_.m_recordStop.load() == 1 || teardown_.requested();
}

// The wait between connection attempts, cut short by the stop request.
// False when the stop request ended it.
bool Recorder::pauseBeforeReconnect() {
    const auto end =
        std::chrono::steady_clock::now() + RecorderTiming::ms(recorderTiming().reconnectWaitMs);
    for (;;) {
        if (stopRequested()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        teardown_.sleepFor(std::min(left, RecorderTiming::ms(recorderTiming().stopCheckMs)));
    }
}

// Receives exactly length bytes. The receive time-out bounds the whole wait
// for them, not the wait for each byte, so a device that sends a byte now and
// then cannot keep the recorder waiting; whenever the bytes so far are taken,
// the stop request is looked at between short waits for the socket.
ReceiveEnd Recorder::receivePart(void* buffer, size_t length) {
    const auto deadline =
        std::chrono::steady_clock::now() + ShellTiming::ms(shellTiming().streamReceiveTimeoutMs);
    return receiveBefore(
        client_.sock, buffer, length, deadline, [this] { return stopRequested(); },
        RecorderTiming::ms(recorderTiming().stopCheckMs));
}

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
    switch (receivePart(response, sizeof response)) {
        case ReceiveEnd::Whole:
            return true;
        case ReceiveEnd::Stopped:
            return false;
        case ReceiveEnd::Failed:
            break;
    }
    tracef("接收响应失败!\n");
    return false;
}

bool Recorder::reconnect() {
    if (!connectOnce()) {
        pauseBeforeReconnect();
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

// Frames until the connection ends, the stop request is seen or a record
// cannot be written. A frame that the stop request cuts off is not written.
void Recorder::recordFrames() {
    for (;;) {
        fpsStep();
        uint8_t headerBytes[kCollectionHeaderSize];
        ReceiveEnd end = receivePart(headerBytes, sizeof headerBytes);
        if (end == ReceiveEnd::Stopped) break;
        if (end == ReceiveEnd::Failed) {
            tracef("接收协议头失败!\n");
            break;
        }
        if (!collectionMarkersValid(decodeCollectionHeader(headerBytes))) {
            // No search for the markers: the next 40 bytes are taken as a header.
            if (control_.m_recordStop.load() == 1) break;
            continue;
        }
        uint8_t blockBytes[kCollectionBlockSize];
        end = receivePart(blockBytes, sizeof blockBytes);
        if (end == ReceiveEnd::Stopped) break;
        if (end == ReceiveEnd::Failed) {
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
        end = receivePart(payload_.data(), payloadSize);
        if (end == ReceiveEnd::Stopped) break;
        if (end == ReceiveEnd::Failed) {
            tracef("接收协议体失败!\n");
            break;
        }
        // presize beyond the payload would take bytes that never came: cut to it.
        const size_t recordSize = collectionRecordSize(block);
        tracef("psize = %d, rsize = %d, presize = %d，useStringlen = %d\n", block.psize, 0,
               block.presize, static_cast<int>(recordSize));
        if (!writer_.Write(payload_.data(), recordSize, block.time)) {
            // A full disk fails every following record too: the recording
            // stops here rather than opening a new file for each frame.
            writeFailed_ = true;
            const PointDataWriter::Failure failure = writer_.lastFailure();
            tracef("写入文件失败，停止数据存储：%s (%s)，已保存 %llu 条记录\n",
                   failure.path.c_str(), failure.reason.c_str(),
                   static_cast<unsigned long long>(writer_.recordsWritten()));
            break;
        }
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
    // A stop request left from an earlier run is forgotten here; one made from
    // now on ends even the wait for the first response.
    control_.m_recordStop = 0;
    askForData(true);  // a failure here shows as a failed receive in the loop
    connected_ = true;

    writer_.Init(folder, ip);
    fpsBaseMs_ = nowEpochMs();
    frameCount_ = 0;
    while (control_.m_recordStop.load() == 0 && !teardown_.requested() && !writeFailed_) {
        if (!connected_ && !reconnect()) continue;
        if (control_.m_recordStop.load() == 1) {
            endConnection();
            break;
        }
        recordFrames();
    }
    if (connected_) endConnection();
}

RecorderOutcome Recorder::outcome() const {
    RecorderOutcome out;
    out.stoppedByRequest = !writeFailed_;
    if (writeFailed_) {
        const PointDataWriter::Failure failure = writer_.lastFailure();
        out.failedPath = failure.path;
        out.reason = failure.reason;
    }
    out.recordsKept = writer_.recordsWritten();
    out.filesKept = writer_.filesWritten();
    return out;
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

RecorderOutcome RunDataRecorder(RecorderControl& control, TcpClient& client,
                                const std::string& deviceIp, const std::string& folder,
                                const StopFlag& teardown) {
    RecorderOutcome outcome;
    {
        Recorder recorder(control, client, teardown);
        recorder.run(deviceIp, folder);
        outcome = recorder.outcome();
    }  // the writer closes its file here
    control.m_recordRunning = false;
    return outcome;
}

std::string recorderFailureText(const RecorderOutcome& outcome, bool chinese) {
    const std::string kept = std::to_string(outcome.recordsKept);
    const std::string where = outcome.failedPath + " (" + outcome.reason + ")";
    if (chinese)
        return "写入文件失败，数据存储已停止！\n" + where + "\n已保存 " + kept + " 条记录。";
    return "Writing the record file failed, recording stopped!\n" + where + "\n" + kept +
           " records were kept.";
}
