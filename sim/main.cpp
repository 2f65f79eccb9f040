// KestDeviceSim: a simulated passage-monitoring device on one loopback
// address, serving every device port that the tool talks to.
//
//   KestDeviceSim --address 127.0.0.x [--fps N] [--seed S] [--push-ms MS] [--drop-every N]
//                 [--maint-status N|none] [--maint-read-limit N]
//                 [--device-version V] [--device-date D]
//                 [--reg-zero N] [--reg-short N] [--reg-silent 0|1] [--reg-drop 0|1]
//                 [--collect-bytes N] [--collect-drop-every N] [--alg-bad-every N]
//                 [--replay PATH]
#include <signal.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AlgorithmServer.h"
#include "CollectionServer.h"
#include "GateServer.h"
#include "MaintenanceServer.h"
#include "RegistrationServer.h"
#include "ReplayFeed.h"
#include "SimLog.h"
#include "SimModule.h"
#include "Station.h"
#include "StreamServer.h"
#include "TcpListener.h"
#include "core/NumberText.h"
#include "stream/CollectionFormat.h"

namespace {

// What every server of the device is started with, from the command line.
struct DeviceOptions {
    SimOptions sim;
    GateServerOptions gate;
    MaintenanceServerOptions maintenance;
    RegistrationServerOptions registration;
    CollectionServerOptions collect;
    AlgorithmServerOptions alg;
    std::vector<std::string> station;  // --addresses: a gate-linkage device on each
    std::string replay;                // a record file or a folder of them; empty: the scene
};

void usage() {
    std::fprintf(
        stderr,
        "usage: KestDeviceSim --address 127.0.0.x [--fps N] [--seed S]"
        " [--push-ms MS] [--drop-every N]\n"
        "       (or --addresses FIRST-LAST for a station: the gate-linkage ports on every\n"
        "       address of the range, each device with its own scene seeded S, S+1, ...;\n"
        "       the other servers on FIRST only)\n"
        "       [--maint-status N|none] [--maint-read-limit N] [--device-version V]\n"
        "       [--device-date D]\n"
        "       [--reg-zero N] [--reg-short N] [--reg-silent 0|1] [--reg-drop 0|1]\n"
        "       [--collect-bytes N] [--collect-drop-every N] [--alg-bad-every N]\n"
        "       [--replay PATH]\n"
        "  --push-ms             gate pushes one alarm or door frame every MS ms (0: none)\n"
        "  --drop-every          gate drops its link after every N pushes (0: never)\n"
        "  --maint-status        upgrade and file servers answer every command with\n"
        "                        status N (0 success, -1 failure, others), or not at all\n"
        "  --maint-read-limit    upgrade server reads only N bytes of a package, then\n"
        "                        answers and closes (0: the whole package)\n"
        "  --device-version      version text of the running version (default 1.0.0)\n"
        "  --device-date         date text of the running version (default 2026-12-01)\n"
        "  --reg-zero            registration answers 0 to the first N requests of a link\n"
        "  --reg-short           registration sends only the first N points of its set\n"
        "  --reg-silent          1: registration reads requests and never answers\n"
        "  --reg-drop            1: registration drops the link halfway through the points\n"
        "  --collect-bytes       payload bytes of each collection frame (460800)\n"
        "  --collect-drop-every  collection server drops a link after N frames (0: never)\n"
        "  --alg-bad-every       every N-th algorithm picture is of length 0 or of the\n"
        "                        wrong size, alternately (0: never)\n"
        "  --replay              the stream and collection ports play the record file or\n"
        "                        the folder of record files PATH, at its recorded pace,\n"
        "                        round and round, instead of the scene\n");
}

bool parseArgs(int argc, char** argv, DeviceOptions& device) {
    SimOptions& options = device.sim;
    GateServerOptions& gate = device.gate;
    MaintenanceServerOptions& maintenance = device.maintenance;
    RegistrationServerOptions& reg = device.registration;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (arg == "--address") {
            options.address = value;
        } else if (arg == "--addresses") {
            std::string error;
            if (!parseAddressRange(value, device.station, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return false;
            }
            options.address = device.station.front();
        } else if (arg == "--fps") {
            if (!parseNumber(value, options.fps) || !(options.fps > 0 && options.fps <= 1000))
                return false;
        } else if (arg == "--seed") {
            options.seed = std::strtoull(value, &end, 10);
            if (*end != '\0') return false;
        } else if (arg == "--push-ms" || arg == "--drop-every") {
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 0 || n > 3600000) return false;
            (arg == "--push-ms" ? gate.pushIntervalMs : gate.dropEvery) = static_cast<int>(n);
        } else if (arg == "--maint-status") {
            maintenance.answer = std::strcmp(value, "none") != 0;
            if (maintenance.answer) {
                const long n = std::strtol(value, &end, 10);
                if (*end != '\0' || n < INT32_MIN || n > INT32_MAX) return false;
                maintenance.status = static_cast<int32_t>(n);
            }
        } else if (arg == "--maint-read-limit") {
            const unsigned long long n = std::strtoull(value, &end, 10);
            if (*end != '\0' || value[0] == '-') return false;
            maintenance.packageReadLimit = n;
        } else if (arg == "--replay") {
            if (value[0] == '\0') return false;
            device.replay = value;
        } else if (arg == "--device-version") {
            maintenance.version = value;
        } else if (arg == "--device-date") {
            maintenance.date = value;
        } else if (arg == "--reg-zero" || arg == "--reg-short") {
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 0 || n > 100000000) return false;
            (arg == "--reg-zero" ? reg.zeroAnswers : reg.shortPoints) = static_cast<int>(n);
        } else if (arg == "--reg-silent" || arg == "--reg-drop") {
            if (std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0) return false;
            (arg == "--reg-silent" ? reg.silent : reg.dropInPoints) = value[0] == '1';
        } else if (arg == "--collect-bytes" || arg == "--collect-drop-every" ||
                   arg == "--alg-bad-every") {
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 0 || n > kMaxCollectionPayload) return false;
            if (arg == "--collect-bytes") device.collect.payloadBytes = static_cast<int32_t>(n);
            if (arg == "--collect-drop-every") device.collect.dropEvery = static_cast<int>(n);
            if (arg == "--alg-bad-every") device.alg.badEvery = static_cast<int>(n);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    DeviceOptions device;
    if (!parseArgs(argc, argv, device)) {
        usage();
        return 2;
    }
    const SimOptions& options = device.sim;
    if (!isLoopbackAddress(options.address)) {
        std::fprintf(stderr, "KestDeviceSim serves loopback addresses (127.x.x.x) only\n");
        return 2;
    }

    // A recording to play is opened (its records indexed) before anything
    // is served: a path that holds nothing to play ends the simulator here.
    std::shared_ptr<ReplayFeed> replay;
    if (!device.replay.empty()) {
        replay = std::make_shared<ReplayFeed>();
        if (!replay->open(device.replay)) {
            std::fprintf(stderr, "KestDeviceSim: --replay %s\n", replay->refusal().c_str());
            return 2;
        }
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
    auto stream = std::make_unique<StreamServer>(options);
    if (replay) stream->setFeed(replay);
    modules.push_back(std::move(stream));
    device.gate.address = options.address;
    if (device.station.empty()) {
        modules.push_back(std::make_unique<GateServer>(device.gate));
    } else {
        if (!raiseOpenFileLimit(3 * device.station.size() + 64))
            std::fprintf(stderr, "KestDeviceSim: too few open files allowed for the station\n");
        for (auto& gate : stationGateServers(device.station, device.gate, options.seed))
            modules.push_back(std::move(gate));
    }
    device.maintenance.address = options.address;
    modules.push_back(std::make_unique<MaintenanceServer>(device.maintenance));
    device.registration.address = options.address;
    device.registration.seed = options.seed;
    modules.push_back(std::make_unique<RegistrationServer>(device.registration));
    device.collect.address = device.alg.address = options.address;
    device.collect.fps = device.alg.fps = options.fps;
    device.collect.seed = device.alg.seed = options.seed;
    auto collect = std::make_unique<CollectionServer>(device.collect);
    if (replay) collect->setFeed(replay);
    modules.push_back(std::move(collect));
    modules.push_back(std::make_unique<AlgorithmServer>(device.alg));

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
