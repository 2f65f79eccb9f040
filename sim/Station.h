// A whole station from one simulator process: the gate-linkage ports of a
// device on every address of a range (127.0.1.1-127.0.1.200), each device
// with its own seeded scene. The device's other servers stay on the first
// address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GateServer.h"
#include "SimModule.h"

// The most devices one process plays (two listening sockets and a link each).
constexpr size_t kMaxStationDevices = 4096;

// "FIRST-LAST": every address from FIRST to LAST (both loopback, FIRST not
// after LAST, at most kMaxStationDevices). False with a reason otherwise.
bool parseAddressRange(const std::string& text, std::vector<std::string>& addresses,
                       std::string& error);

// One gate server per address, from the options of one device: the address
// and the scene's seed (stationDeviceSeed of seed and the position) set.
std::vector<std::unique_ptr<SimModule>> stationGateServers(
    const std::vector<std::string>& addresses, const GateServerOptions& gate, uint64_t seed);

// Raises the limit of open files to the hard limit (a station needs three
// descriptors a device); false when even that is below need.
bool raiseOpenFileLimit(size_t need);
