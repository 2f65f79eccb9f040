// The simulated device's upgrade server (TCP 18888) and file server (TCP
// 18889). Each connection carries one command: the server reads the request,
// logs it field by field (for a package its size and CRC-32, never the bytes),
// and answers with the status chosen on the command line, or not at all. A
// version query answered with 0 gets the record of the configured version.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimModule.h"
#include "TcpListener.h"

struct MaintenanceServerOptions {
    std::string address = "127.0.0.1";
    uint16_t upgradePort = 18888;
    uint16_t filePort = 18889;
    bool answer = true;  // false: read the request, then stay silent until the client goes
    int32_t status = 0;  // the status every command is answered with
    std::string version = "1.0.0";
    std::string date = "2026-12-01";
    // Above 0: a device that gives up mid-package, reading only this many
    // package bytes before it answers and closes the link.
    uint64_t packageReadLimit = 0;
};

// One request as the server understood it.
struct MaintenanceRequestLog {
    uint16_t port = 0;      // the server it reached
    uint32_t code = 0;      // command code
    bool complete = false;  // every byte the command needs arrived
    std::string text;       // SetDeviceIp / SetInterface address
    uint32_t value = 0;     // SetInterface port
    int32_t filetype = 0;   // Upgrade record fields
    int32_t ishaveupfile = 0;
    int32_t ishaveprofile = 0;
    int32_t ishavealgfile = 0;
    std::string filename;
    std::string version;
    std::string date;
    int64_t packageSize = 0;  // filesize of the record
    uint64_t packageReceived = 0;
    uint32_t packageCrc = 0;  // CRC-32 of the package bytes received
};

class MaintenanceServer : public SimModule {
public:
    explicit MaintenanceServer(MaintenanceServerOptions options);
    ~MaintenanceServer() override;

    const char* name() const override { return "maint"; }
    bool start() override;
    void stop() override;

    // The status answered from now on (tests switch it between commands).
    void setAnswer(bool answer, int32_t status);
    std::vector<MaintenanceRequestLog> requests() const;
    // Waits until at least count requests have been handled.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Port;
    void serve(Port& port);
    void handle(int fd, uint16_t port);
    bool readUpgrade(int fd, MaintenanceRequestLog& log);
    bool readAddress(int fd, MaintenanceRequestLog& log, bool withPort);
    void answer(int fd, const MaintenanceRequestLog& log);
    void record(MaintenanceRequestLog log);

    MaintenanceServerOptions options_;
    std::vector<std::unique_ptr<Port>> ports_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool answer_ = true;
    int32_t status_ = 0;
    std::vector<MaintenanceRequestLog> requests_;
};
