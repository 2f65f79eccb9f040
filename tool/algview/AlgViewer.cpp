#include "algview/AlgViewer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <opencv2/highgui.hpp>
#include <thread>
#include <vector>

#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "core/Trace.h"

namespace {

constexpr const char* kAlgShowAccessCode = "pqe713";

class Viewer {
public:
    Viewer(AlgViewControl& control, PictureWindow& window, const StopFlag& teardown)
        : control_(control), window_(window), teardown_(teardown) {}

    void run(const std::string& ip);

private:
    enum class Step { Shown, Skipped, Failed };

    bool stopRequested() const {
        return control_.m_algShowStop.load() == 1 || teardown_.requested();
    }
    bool connectOnce();
    bool connectUntilDone(bool watchStop);
    Step receivePicture();
    bool discard(size_t length);

    AlgViewControl& control_;
    PictureWindow& window_;
    const StopFlag& teardown_;
    TcpClient client_;
    // Exactly one picture: wrong-sized frames are read through it in pieces.
    std::vector<uint8_t> picture_;
};

bool Viewer::connectOnce() {
    // No target (Init failed) is no connection, and a socket whose connect
    // failed is closed, so the next attempt starts from a fresh one.
    if (client_.Connect()) return true;
    tracef("链接算法服务器:[%s][%d]失败!\n", client_.ip, client_.port);
    return false;
}

// Connects, retrying every 5 s. The first connection ignores the stop request
// (it is erased once connected); reconnections end on it, so that a viewer
// whose device went away can still be closed.
bool Viewer::connectUntilDone(bool watchStop) {
    while (!connectOnce()) {
        if (watchStop && stopRequested()) return false;
        if (!teardown_.sleepFor(AlgViewTiming::ms(algViewTiming().reconnectWaitMs))) return false;
        if (watchStop && stopRequested()) return false;
    }
    client_.SetStreamOptions();
    tracef("链接算法服务器：[%s][%d]成功！\n", client_.ip, client_.port);
    return true;
}

// Reads length bytes that are no picture and throws them away.
bool Viewer::discard(size_t length) {
    while (length > 0) {
        const size_t piece = std::min(length, picture_.size());
        if (!client_.ReceiveAll(picture_.data(), piece)) return false;
        length -= piece;
    }
    return true;
}

Viewer::Step Viewer::receivePicture() {
    AlgFrameHeader header;
    for (;;) {
        uint8_t headerBytes[kAlgPictureHeaderSize];
        if (!client_.ReceiveAll(headerBytes, sizeof headerBytes)) {
            tracef("接收dlen失败\n");
            return Step::Failed;
        }
        header = decodeAlgFrameHeader(headerBytes);
        tracef("dlen = %d\n", header.length);
        if (header.kind != AlgFrameKind::Empty) break;
        // No picture follows; the next length comes without a new request.
        std::this_thread::sleep_for(AlgViewTiming::ms(algViewTiming().emptyFrameWaitMs));
        if (stopRequested()) return Step::Skipped;
    }
    const int32_t dlen = header.length;
    if (header.kind == AlgFrameKind::OutOfRange) {
        // Out of step with the device: nothing is read or allocated on this length.
        tracef("dlen = %d 超出范围，重新连接\n", dlen);
        return Step::Failed;
    }
    if (header.kind == AlgFrameKind::WrongSize) {
        tracef("dlen = %d 不是 %d×%d×3，跳过此图\n", dlen, kAlgObjSide, kAlgObjSide);
        if (!discard(algFrameBytesToRead(header))) {
            tracef("接收pdata失败\n");
            return Step::Failed;
        }
        return Step::Skipped;
    }
    if (!client_.ReceiveAll(picture_.data(), picture_.size())) {
        tracef("接收pdata失败\n");
        return Step::Failed;
    }
    const cv::Mat wrapped(kAlgObjSide, kAlgObjSide, CV_8UC3, picture_.data());
    window_.show(wrapped);
    return Step::Shown;
}

void Viewer::run(const std::string& ip) {
    tracef("%s--%d\n", ip.c_str(), kAlgServerPort);
    if (!client_.Init(ip.c_str(), kAlgServerPort))
        tracef("init %s:%d fail!\n", ip.c_str(), kAlgServerPort);
    picture_.assign(static_cast<size_t>(kAlgObjBytes), 0);
    bool connected = connectUntilDone(false);
    control_.m_algShowStop = 0;
    while (connected) {
        const auto request = encodeAlgRequest();
        bool ok = client_.SendAll(request.data(), request.size());
        tracef(ok ? "发送sendQuest成功！！\n" : "发送sendQuest失败\n");
        while (ok && !stopRequested()) ok = receivePicture() != Step::Failed;
        if (ok || stopRequested()) break;
        client_.Close();
        connected = connectUntilDone(true);
    }
    picture_ = std::vector<uint8_t>();
    client_.Close();
    tracef("算法服务器断开连接");
}

}  // namespace

bool AlgShowAccessGranted(const std::string& settingsValue) {
    return settingsValue.size() == std::strlen(kAlgShowAccessCode) &&
           std::memcmp(settingsValue.data(), kAlgShowAccessCode, settingsValue.size()) == 0;
}

AlgViewTiming& algViewTiming() {
    static AlgViewTiming timing;
    return timing;
}

void HighGuiPictureWindow::show(const cv::Mat& picture) {
    cv::imshow(kAlgObjWindow, picture);
    cv::waitKey(1);
}

void RunAlgViewer(AlgViewControl& control, const std::string& deviceIp, PictureWindow& window,
                  const StopFlag& teardown) {
    {
        Viewer viewer(control, window, teardown);
        viewer.run(deviceIp);
    }
    control.m_algShowStop = 0;
    control.m_algShowRunning = false;
}
