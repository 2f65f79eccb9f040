#include "Station.h"

#include <arpa/inet.h>
#include <sys/resource.h>

#include "GateScene.h"
#include "TcpListener.h"

namespace {

bool parseAddress(const std::string& text, uint32_t& value) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    value = ntohl(address.s_addr);
    return true;
}

std::string addressText(uint32_t value) {
    in_addr address{};
    address.s_addr = htonl(value);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

}  // namespace

bool parseAddressRange(const std::string& text, std::vector<std::string>& addresses,
                       std::string& error) {
    const size_t dash = text.find('-');
    uint32_t first = 0;
    uint32_t last = 0;
    if (dash == std::string::npos || !parseAddress(text.substr(0, dash), first) ||
        !parseAddress(text.substr(dash + 1), last)) {
        error = "--addresses takes FIRST-LAST, two IPv4 addresses";
        return false;
    }
    if (first > last) {
        error = "--addresses: " + text.substr(0, dash) + " comes after " + text.substr(dash + 1);
        return false;
    }
    if (last - first >= kMaxStationDevices) {
        error = "--addresses: more than " + std::to_string(kMaxStationDevices) + " devices";
        return false;
    }
    std::vector<std::string> out;
    for (uint32_t a = first;; ++a) {
        out.push_back(addressText(a));
        if (!isLoopbackAddress(out.back())) {
            error = "--addresses: " + out.back() + " is no loopback address (127.x.x.x)";
            return false;
        }
        if (a == last) break;
    }
    addresses = std::move(out);
    return true;
}

std::vector<std::unique_ptr<SimModule>> stationGateServers(
    const std::vector<std::string>& addresses, const GateServerOptions& gate, uint64_t seed) {
    std::vector<std::unique_ptr<SimModule>> servers;
    for (size_t i = 0; i < addresses.size(); ++i) {
        GateServerOptions options = gate;
        options.address = addresses[i];
        options.seededScene = true;
        options.sceneSeed = stationDeviceSeed(seed, i);
        servers.push_back(std::make_unique<GateServer>(options));
    }
    return servers;
}

bool raiseOpenFileLimit(size_t need) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= need;
}
