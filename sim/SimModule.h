// One server of the simulated device. main() starts every module of its list
// on the chosen address and stops them all on Ctrl+C or SIGTERM; tests run a
// module in-process on an address of their own.
#pragma once

#include <cstdint>
#include <string>

// What every module is started with, from the command line.
struct SimOptions {
    std::string address = "127.0.0.1";
    double fps = 10.0;  // frame rate of streaming servers
    uint64_t seed = 1;  // scene seed
};

class SimModule {
public:
    virtual ~SimModule() = default;
    virtual const char* name() const = 0;
    // Binds and starts serving; false (with a log line) when it cannot.
    virtual bool start() = 0;
    // Closes every connection and the listening socket, and joins the threads.
    virtual void stop() = 0;
};
