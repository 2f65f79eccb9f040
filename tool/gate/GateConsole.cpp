#include "gate/GateConsole.h"

#include <sys/socket.h>

#include <chrono>
#include <utility>

#include "core/Trace.h"
#include "gate/GateTiming.h"

void GateDeviceClient::interruptRead() {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (socketHandle != -1) ::shutdown(static_cast<int>(socketHandle), SHUT_RDWR);
}

GateConsole::GateConsole(AlarmQueue& queue, GateTiming& timing) : queue_(queue), timing_(timing) {}

GateConsole::~GateConsole() {
    stop();
}

void GateConsole::PanelGuard::attach(ControlSink* panel) {
    std::lock_guard<std::mutex> lock(mutex_);
    panel_ = panel;
}

void GateConsole::PanelGuard::detach(ControlSink* panel) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (panel_ == panel || !panel) panel_ = nullptr;
}

// The panel sink only posts to the GUI thread, so holding the guard's lock
// across it cannot wait on the GUI thread.
void GateConsole::PanelGuard::setControlText(int controlId, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (panel_) panel_->setControlText(controlId, text);
}

void GateConsole::PanelGuard::controlSize(int controlId, int& width, int& height) const {
    std::lock_guard<std::mutex> lock(mutex_);
    width = height = 0;
    if (panel_) panel_->controlSize(controlId, width, height);
}

void GateConsole::PanelGuard::showImage(int controlId, const cv::Mat& image) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (panel_) panel_->showImage(controlId, image);
}

bool GateConsole::startAlarmLink(ControlSink& panel, std::function<std::string()> deviceAddress) {
    panel_.attach(&panel);
    if (stop_) {
        // A new panel shows the queue at once.
        queue_.alarmDirty.exchange(1);
        return false;
    }
    stop_ = std::make_unique<StopFlag>();
    alarmLinkThread_ =
        std::thread(&GateConsole::alarmLinkThread, this, std::move(deviceAddress), stop_.get());
    return true;
}

void GateConsole::detachPanel(ControlSink& panel) {
    panel_.detach(&panel);
}

void GateConsole::stop() {
    if (!stop_) return;
    stop_->request();
    // The alarm link thread owns the start of the other two: once it has
    // ended, their thread objects are final.
    if (alarmLinkThread_.joinable()) alarmLinkThread_.join();
    if (heartbeatThread_.joinable()) heartbeatThread_.join();
    if (client_) {
        client_->stopAutoReconnect();
        client_->interruptRead();
    }
    if (receiveThread_.joinable()) receiveThread_.join();
    gateClient_.store(nullptr);
    client_.reset();
    stop_.reset();
    panel_.detach(nullptr);
}

void GateConsole::swipe(SwipeKind kind) {
    appendSwipeLine(queue_, kind);
    DeviceClient* client = gateClient_.load();
    if (client && client->isConnected()) client->sendAuthorization(1, static_cast<uint8_t>(kind));
}

void GateConsole::clearDisplay(ControlSink& panel) {
    clearAlarmDisplay(queue_, panel);
}

void GateConsole::alarmLinkThread(std::function<std::string()> deviceAddress,
                                  const StopFlag* stop) {
    const std::string address = deviceAddress ? deviceAddress() : std::string();
    const int mode = alarmLinkMode.load();
    int port = 0;
    if (mode == 1)
        port = kGatePortAlarm;
    else if (mode == 2)
        port = kGatePortReceive;
    else
        return;

    if (!client_) client_ = std::make_unique<GateDeviceClient>();
    GateDeviceClient* client = client_.get();
    client->init(address, port);
    tracef("%s--%d\n", address.c_str(), port);
    if (!client->connect()) traceErrf("connect failed\n");
    client->startAutoReconnect();

    AlarmQueue* queue = &queue_;
    client->setPushCallback([queue](const std::array<uint8_t, 16>& frame, uint8_t b4, uint8_t b5,
                                    uint8_t b6, uint8_t b7, uint8_t b8, uint8_t b11, uint8_t b12) {
        onGatePush(*queue, frame, b4, b5, b6, b7, b8, b11, b12);
    });
    client->setResponseCallback(onGateResponse);
    // Published only now: the swipe buttons send through a client that is
    // fully set up.
    gateClient_.store(client);

    heartbeatThread_ = std::thread(&GateConsole::heartbeatLoop, this, stop);
    receiveThread_ = std::thread(&GateConsole::receiveLoop, this, stop);

    while (!stop->requested()) refreshAlarmPanel(queue_, panel_, *stop, timing_);
}

void GateConsole::heartbeatLoop(const StopFlag* stop) {
    DeviceClient* client = client_.get();
    while (!stop->requested()) {
        if (client->isConnected()) client->sendHeartbeat();
        stop->sleepUntil(std::chrono::steady_clock::now() +
                         GateTiming::ms(timing_.heartbeatPeriodMs));
    }
}

void GateConsole::receiveLoop(const StopFlag* stop) {
    DeviceClient* client = client_.get();
    while (!stop->requested()) {
        if (client->isConnected()) {
            const int received = client->receiveAndProcess();
            if (received > 0) continue;
            if (received == 0) {
                // A stop interrupts the read the same way; that is no news.
                if (!stop->requested()) traceErrf("peer closed\n");
                continue;
            }
        }
        stop->sleepUntil(std::chrono::steady_clock::now() + GateTiming::ms(timing_.receiveRetryMs));
    }
}

bool openAlarmLink(GateConsole& console, bool& alarmLinkStarted, int mode, ControlSink& panel,
                   std::function<std::string()> deviceAddress) {
    console.alarmLinkMode.exchange(mode);
    if (alarmLinkStarted) return false;
    alarmLinkStarted = true;
    return console.startAlarmLink(panel, std::move(deviceAddress));
}

GateConsole& gateConsole() {
    // Never destroyed: its threads may run until the process ends.
    static GateConsole* const console = new GateConsole(alarmQueue(), gateTiming());
    return *console;
}
