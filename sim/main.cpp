// KestDeviceSim: a simulated passage-monitoring device on one loopback
// address, serving every device port that the tool talks to.
//
//   KestDeviceSim --address 127.0.0.x [--fps N] [--seed S] [--push-ms MS] [--drop-every N]
//                 [--collect-bytes N] [--collect-drop-every N] [--alg-bad-every N]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AlgorithmServer.h"
#include "CollectionServer.h"
#include "GateServer.h"
#include "SimLog.h"
#include "SimModule.h"
#include "StreamServer.h"
#include "TcpListener.h"
#include "stream/CollectionFormat.h"

namespace {

void usage() {
    std::fprintf(
        stderr,
        "usage: KestDeviceSim --address 127.0.0.x [--fps N] [--seed S]"
        " [--push-ms MS] [--drop-every N]\n"
        "                     [--collect-bytes N] [--collect-drop-every N] [--alg-bad-every N]\n"
        "  --push-ms     gate pushes one alarm or door frame every MS ms (0: none)\n"
        "  --drop-every  gate drops its link after every N pushes (0: never)\n"
        "  --collect-bytes       payload bytes of each collection frame (460800)\n"
        "  --collect-drop-every  collection server drops a link after N frames (0: never)\n"
        "  --alg-bad-every       every N-th algorithm picture is of length 0 or of the\n"
        "                        wrong size, alternately (0: never)\n");
}

// Options of the collection and algorithm servers.
struct DataServerOptions {
    CollectionServerOptions collect;
    AlgorithmServerOptions alg;
};

bool parseArgs(int argc, char** argv, SimOptions& options, GateServerOptions& gate,
               DataServerOptions& data) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (arg == "--address") {
            options.address = value;
        } else if (arg == "--fps") {
            options.fps = std::strtod(value, &end);
            if (*end != '\0' || !(options.fps > 0 && options.fps <= 1000)) return false;
        } else if (arg == "--seed") {
            options.seed = std::strtoull(value, &end, 10);
            if (*end != '\0') return false;
        } else if (arg == "--push-ms" || arg == "--drop-every") {
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 0 || n > 3600000) return false;
            (arg == "--push-ms" ? gate.pushIntervalMs : gate.dropEvery) = static_cast<int>(n);
        } else if (arg == "--collect-bytes" || arg == "--collect-drop-every" ||
                   arg == "--alg-bad-every") {
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 0 || n > kMaxCollectionPayload) return false;
            if (arg == "--collect-bytes") data.collect.payloadBytes = static_cast<int32_t>(n);
            if (arg == "--collect-drop-every") data.collect.dropEvery = static_cast<int>(n);
            if (arg == "--alg-bad-every") data.alg.badEvery = static_cast<int>(n);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    GateServerOptions gate;
    DataServerOptions data;
    if (!parseArgs(argc, argv, options, gate, data)) {
        usage();
        return 2;
    }
    if (!isLoopbackAddress(options.address)) {
        std::fprintf(stderr, "KestDeviceSim serves loopback addresses (127.x.x.x) only\n");
        return 2;
    }

    // Block the stop signals before any thread starts, so that every thread
    // inherits the mask and only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // The device's servers, one module each.
    std::vector<std::unique_ptr<SimModule>> modules;
    modules.push_back(std::make_unique<StreamServer>(options));
    gate.address = options.address;
    modules.push_back(std::make_unique<GateServer>(gate));
    data.collect.address = data.alg.address = options.address;
    data.collect.fps = data.alg.fps = options.fps;
    data.collect.seed = data.alg.seed = options.seed;
    modules.push_back(std::make_unique<CollectionServer>(data.collect));
    modules.push_back(std::make_unique<AlgorithmServer>(data.alg));

    bool ok = true;
    for (auto& m : modules) ok = m->start() && ok;
    if (ok) {
        simLog("sim", "device on %s running (seed %llu); Ctrl+C stops it", options.address.c_str(),
               static_cast<unsigned long long>(options.seed));
        int signal = 0;
        sigwait(&stopSignals, &signal);
        simLog("sim", "signal %d: stopping", signal);
    }
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) (*it)->stop();
    return ok ? 0 : 1;
}
