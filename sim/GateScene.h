// A seeded scene of one gate's pushes: what the passage monitor over a fare
// gate reports while people walk through. Each passage opens the door, is
// sometimes flagged (tailgating, rushing, ...), and the door closes again;
// an alarm is ended by 0x99 and now and then the door pauses. The same seed
// gives the same frames in the same order on every machine (no library
// distribution is involved).
#pragma once

#include <cstdint>

#include "GateServer.h"

class GateScene {
public:
    explicit GateScene(uint64_t seed);
    // The next push frame (kind 1): an alarm with byte 12 = 0xFF (no door
    // change), or a door state with byte 6 = 0 (no alarm).
    SimGateFrame next();

private:
    uint64_t random();

    uint64_t state_;
    bool doorOpen_ = false;
    bool alarmRaised_ = false;
};

// The seed of the device at position index of a station whose first device
// has seed base: every gate of the station plays its own scene.
uint64_t stationDeviceSeed(uint64_t base, size_t index);
