// The gate event console: one gate-linkage client to the logged-in device, a
// heartbeat every 5 s, a receive loop whose push frames fill the alarm panel,
// the panel refresher, and the card-swipe commands.
//
// The tool keeps one console for the whole process (gateConsole()); its link
// runs until the process ends. The refresher writes to the panel through a
// guard that the main dialog's teardown detaches, so no thread touches a
// dialog that is gone. The threads are joinable and share one stop request,
// so that tests (or an orderly exit) end them all with stop().
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "KestSdk/DeviceClient.h"
#include "core/ControlSink.h"
#include "core/StopFlag.h"
#include "gate/AlarmPanel.h"

struct GateTiming;

// The library's client plus one thing the console needs to stop: waking the
// receive thread out of a blocking read.
class GateDeviceClient : public DeviceClient {
public:
    // Shuts the connection down in both directions (the library's read then
    // returns at once). Holds the send lock, under which the library never
    // closes or replaces the socket, so the handle cannot be reused meanwhile.
    // Call after stopAutoReconnect(), or the reconnect thread opens a new
    // connection right away.
    void interruptRead();
};

class GateConsole {
public:
    GateConsole(AlarmQueue& queue, GateTiming& timing);
    ~GateConsole();
    GateConsole(const GateConsole&) = delete;
    GateConsole& operator=(const GateConsole&) = delete;

    // 1 after "open" (port 12580), 2 after "open receive" (port 12581); read
    // once when the alarm link thread starts.
    std::atomic<int> alarmLinkMode{0};

    // Starts the alarm link thread, which asks deviceAddress for the logged-in
    // address, connects, starts the heartbeat and receive threads and then
    // refreshes panel until stop(). While a link runs it only makes panel the
    // one the refresher writes to (redrawn at once) and returns false.
    bool startAlarmLink(ControlSink& panel, std::function<std::string()> deviceAddress);
    // The refresher stops writing to panel (when it is the current one); on
    // return no thread of the console uses it any more. Never blocks on the
    // network.
    void detachPanel(ControlSink& panel);
    // Ends every thread of the link and destroys the client; the link can be
    // started again afterwards. The receive thread's read is interrupted, but a
    // connection attempt in progress is waited for (immediate on loopback, up
    // to the system's connect time-out for an unreachable host). Call from the
    // thread that starts the link and presses the buttons.
    void stop();

    // Swipe buttons: the line always, the authorisation only while connected.
    void swipe(SwipeKind kind);
    // Clear button.
    void clearDisplay(ControlSink& panel);

    // The gate-linkage client, null until the alarm link thread made it.
    DeviceClient* gateClient() const { return gateClient_.load(); }
    AlarmQueue& queue() { return queue_; }

private:
    // Forwards panel texts to the attached panel, if any; attach and detach
    // wait for a text being handed over.
    class PanelGuard : public ControlSink {
    public:
        void attach(ControlSink* panel);
        void detach(ControlSink* panel);
        void setControlText(int controlId, const std::string& text) override;
        void controlSize(int controlId, int& width, int& height) const override;
        void showImage(int controlId, const cv::Mat& image) override;

    private:
        mutable std::mutex mutex_;
        ControlSink* panel_ = nullptr;
    };

    void alarmLinkThread(std::function<std::string()> deviceAddress, const StopFlag* stop);
    void heartbeatLoop(const StopFlag* stop);
    void receiveLoop(const StopFlag* stop);

    AlarmQueue& queue_;
    GateTiming& timing_;
    PanelGuard panel_;

    std::unique_ptr<StopFlag> stop_;  // present while a link runs
    std::unique_ptr<GateDeviceClient> client_;
    std::atomic<GateDeviceClient*> gateClient_{nullptr};
    std::thread alarmLinkThread_;
    // Started by the alarm link thread; joined by stop() after that thread.
    std::thread heartbeatThread_;
    std::thread receiveThread_;
};

// Menu commands "open" (mode 1) and "open receive" (mode 2): stores the mode and
// starts the link once per dialog (alarmLinkStarted is the dialog's flag).
// Showing the panel is left to the dialog. True when this call started a link.
// A dialog's teardown calls console.detachPanel(panel).
bool openAlarmLink(GateConsole& console, bool& alarmLinkStarted, int mode, ControlSink& panel,
                   std::function<std::string()> deviceAddress);

// The tool's one console, on the queue alarmQueue() and the timing gateTiming().
// Created on first use, never destroyed.
GateConsole& gateConsole();
