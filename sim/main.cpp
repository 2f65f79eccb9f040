// KestDeviceSim: a simulated passage-monitoring device on one loopback
// address, serving every device port that the tool talks to.
//
//   KestDeviceSim --address 127.0.0.x [--fps N] [--seed S] [--push-ms MS] [--drop-every N]
//                 [--reg-zero N] [--reg-short N] [--reg-silent 0|1] [--reg-drop 0|1]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GateServer.h"
#include "RegistrationServer.h"
#include "SimLog.h"
#include "SimModule.h"
#include "StreamServer.h"
#include "TcpListener.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: KestDeviceSim --address 127.0.0.x [--fps N] [--seed S]"
                 " [--push-ms MS] [--drop-every N]\n"
                 "  --push-ms     gate pushes one alarm or door frame every MS ms (0: none)\n"
                 "  --drop-every  gate drops its link after every N pushes (0: never)\n"
                 "  --reg-zero    registration answers 0 to the first N requests of a link\n"
                 "  --reg-short   registration sends only the first N points of its set\n"
                 "  --reg-silent  1: registration reads requests and never answers\n"
                 "  --reg-drop    1: registration drops the link halfway through the points\n");
}

bool parseArgs(int argc, char** argv, SimOptions& options, GateServerOptions& gate,
               RegistrationServerOptions& reg) {
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
        } else if (arg == "--reg-zero" || arg == "--reg-short") {
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 0 || n > 100000000) return false;
            (arg == "--reg-zero" ? reg.zeroAnswers : reg.shortPoints) = static_cast<int>(n);
        } else if (arg == "--reg-silent" || arg == "--reg-drop") {
            if (std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0) return false;
            (arg == "--reg-silent" ? reg.silent : reg.dropInPoints) = value[0] == '1';
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
    RegistrationServerOptions reg;
    if (!parseArgs(argc, argv, options, gate, reg)) {
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
    reg.address = options.address;
    reg.seed = options.seed;
    modules.push_back(std::make_unique<RegistrationServer>(reg));

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
