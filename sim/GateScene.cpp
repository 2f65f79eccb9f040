#include "GateScene.h"

namespace {

constexpr uint8_t kPushAlarm = 0x01;  // byte 4 of an alarm push
constexpr uint8_t kPushDoor = 0x02;   // byte 4 of a door push
constexpr uint8_t kNoDoorState = 0xFF;
constexpr uint8_t kNoAlarm = 0x00;
constexpr uint8_t kAlarmEnded = 0x99;
constexpr uint8_t kDoorOpened = 0;
constexpr uint8_t kDoorClosed = 1;
constexpr uint8_t kDoorPaused = 2;
constexpr uint8_t kFirstAlarm = 1;
constexpr uint8_t kLastAlarm = 11;

// splitmix64: small, fast and fixed by its definition.
uint64_t mix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

SimGateFrame alarm(uint8_t code) {
    return makeGateFrame(1, kPushAlarm, 0, code, 0, 0, 0, kNoDoorState);
}

SimGateFrame door(uint8_t state) {
    return makeGateFrame(1, kPushDoor, 0, kNoAlarm, 0, 0, 0, state);
}

}  // namespace

GateScene::GateScene(uint64_t seed) : state_(seed) {}

uint64_t GateScene::random() {
    return mix(state_);
}

SimGateFrame GateScene::next() {
    const uint64_t r = random() % 100;
    if (alarmRaised_ && r < 40) {
        alarmRaised_ = false;
        return alarm(kAlarmEnded);
    }
    if (doorOpen_) {
        // Someone in the passage: mostly the door closes behind them.
        if (r < 55) {
            doorOpen_ = false;
            return door(kDoorClosed);
        }
        if (r < 62) return door(kDoorPaused);
        alarmRaised_ = true;
        return alarm(static_cast<uint8_t>(kFirstAlarm + random() % (kLastAlarm - kFirstAlarm + 1)));
    }
    if (r < 80) {
        doorOpen_ = true;
        return door(kDoorOpened);
    }
    alarmRaised_ = true;
    return alarm(static_cast<uint8_t>(kFirstAlarm + random() % (kLastAlarm - kFirstAlarm + 1)));
}

uint64_t stationDeviceSeed(uint64_t base, size_t index) {
    return base + index;
}
