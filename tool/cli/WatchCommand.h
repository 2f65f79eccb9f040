// `kestctl watch`: the gate-linkage link of many devices at once. Each device
// has one DeviceClient of the library, used as the tool's gate console uses
// it: the library's own reconnect thread keeps the link up, a thread of ours
// runs the receive step (the push callback prints the frame) and notices the
// link going and coming back, and one heartbeat thread for all devices sends
// the device's heartbeat every 5 s. So a device costs two threads: the
// library's reconnect thread and its receive thread here.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/WatchFormat.h"
#include "core/StopFlag.h"

struct CliOptions;

// Waits of the watch, in one place; tests shorten them.
struct WatchTiming {
    std::atomic<int> linkPollMs{100};          // a device without a link is checked this often
    std::atomic<int> readErrorPauseMs{100};    // after a read that failed on a link still up
    std::atomic<int> heartbeatPeriodMs{5000};  // between two heartbeats of a device
};
WatchTiming& watchTiming();

// Takes one whole line (without its line end). Called from the devices'
// threads: lines of one device come in their order, from one thread.
using WatchLineSink = std::function<void(const std::string& line)>;

class StationWatch {
public:
    StationWatch(std::vector<std::string> devices, int port, bool json, bool chinese,
                 WatchLineSink sink);
    ~StationWatch();
    StationWatch(const StationWatch&) = delete;
    StationWatch& operator=(const StationWatch&) = delete;

    // Starts every device's link and threads; returns at once (the first
    // connections are made on the devices' own threads).
    void start();
    // Ends every link and thread (devices in parallel); a connection attempt
    // in progress is waited for. Idempotent.
    void stop();
    // What each device did, in the order given; complete after stop().
    std::vector<WatchTally> tallies() const;

private:
    struct Device;
    void deviceLoop(Device& device);
    void heartbeatLoop();

    std::vector<std::unique_ptr<Device>> devices_;
    int port_;
    bool json_;
    bool chinese_;
    WatchLineSink sink_;
    StopFlag stop_;
    std::thread heartbeat_;
    bool started_ = false;
    bool stopped_ = false;
};

// The command itself: prints until SIGINT/SIGTERM or --for seconds, then the
// summaries; the exit code (0, 4; 2 for a device given twice). print writes
// one whole line at a time, so that lines of different devices never mix.
int runWatch(const CliOptions& options, const WatchLineSink& print);
