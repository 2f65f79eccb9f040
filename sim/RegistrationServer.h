// The simulated device's registration server (TCP 38972). Each 4-byte
// request is answered: 0 while nothing is to be sent, 1 followed by the
// point set header and the points when the client asks for them (state 1).
// A 180-byte result (code 2) is logged field by field and kept.
//
// To show every branch of the client it can answer 0 to the first requests
// of each connection, send a short point set, stay silent after a request,
// or drop the link in the middle of the points.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimModule.h"
#include "TcpListener.h"
#include "registration/RegistrationWire.h"

struct RegistrationServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = kRegistrationPort;
    uint64_t seed = 1;
    int width = 640;            // points per row
    int height = 480;           // rows
    int zeroAnswers = 0;        // answer 0 to this many requests of each connection first
    int shortPoints = -1;       // >= 0: send only this many points (the length says so)
    bool silent = false;        // read requests, answer none
    bool dropInPoints = false;  // close the link halfway through the point bytes
};

class RegistrationServer : public SimModule {
public:
    explicit RegistrationServer(RegistrationServerOptions options);
    ~RegistrationServer() override;
    RegistrationServer(const RegistrationServer&) = delete;
    RegistrationServer& operator=(const RegistrationServer&) = delete;

    const char* name() const override { return "registration"; }
    bool start() override;
    void stop() override;

    // What the server saw, for tests.
    std::vector<RegResultRecord> results() const;
    std::vector<uint32_t> requests() const;  // the states of all requests, in order
    int pointSetsSent() const;
    int connectionsAccepted() const;
    // Waits until predicate holds (re-evaluated after every event).
    bool waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) const;

private:
    struct Session {
        int fd = -1;
        std::string peer;
        std::thread thread;
        bool done = false;
    };

    void acceptLoop();
    void serve(Session& session);
    bool sendPointSet(int fd);
    void logResult(const RegResultRecord& result);
    void event();

    RegistrationServerOptions options_;
    std::vector<uint8_t> pointBytes_;  // the whole set, encoded once
    TcpListener listener_;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    std::list<Session> sessions_;
    std::vector<RegResultRecord> results_;
    std::vector<uint32_t> requests_;
    int pointSets_ = 0;
    int accepted_ = 0;
};
