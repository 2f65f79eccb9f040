#include "FaultPeer.h"

#include <sys/socket.h>

#include <chrono>
#include <random>
#include <thread>

namespace faults {

namespace {
constexpr auto kDribblePause = std::chrono::milliseconds(1);
// Before a connection is broken: a reset that overtakes the client's own
// connect makes the connect fail (a device that never answered), not the
// link break mid-frame that the fault is about.
constexpr auto kSettle = std::chrono::milliseconds(100);
}  // namespace

const char* name(Fault fault) {
    switch (fault) {
        case Fault::CloseMidFrame:
            return "CloseMidFrame";
        case Fault::ResetMidFrame:
            return "ResetMidFrame";
        case Fault::GoSilent:
            return "GoSilent";
        case Fault::Dribble:
            return "Dribble";
        case Fault::Garbage:
            return "Garbage";
        case Fault::OutOfRange:
            return "OutOfRange";
    }
    return "?";
}

std::vector<Fault> allFaults() {
    return {Fault::CloseMidFrame, Fault::ResetMidFrame, Fault::GoSilent,
            Fault::Dribble,       Fault::Garbage,       Fault::OutOfRange};
}

Bytes markerRichGarbage(size_t n, uint8_t marker, uint8_t never, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out) {
        b = random() % 5 == 0 ? marker : static_cast<uint8_t>(random());
        if (b == never) b = marker;
    }
    return out;
}

LoopbackListener::Script faultScript(const LinkBytes& link, Fault fault) {
    return [link, fault](int n, int fd) {
        if (n > 0) return loopback::sendAll(fd, link.valid);
        const Bytes half(link.valid.begin(), link.valid.begin() + link.valid.size() / 2);
        switch (fault) {
            case Fault::CloseMidFrame:
                std::this_thread::sleep_for(kSettle);
                loopback::sendAll(fd, half);
                return false;
            case Fault::ResetMidFrame: {
                std::this_thread::sleep_for(kSettle);
                loopback::sendAll(fd, half);
                const linger l{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                return false;
            }
            case Fault::GoSilent:
                return true;
            case Fault::Dribble:
                for (uint8_t b : link.valid) {
                    if (!loopback::sendAll(fd, {b})) return false;
                    std::this_thread::sleep_for(kDribblePause);
                }
                return true;
            case Fault::Garbage:
                // A client that gives up on the stream closes; the send then fails.
                return loopback::sendAll(fd, link.garbage) && loopback::sendAll(fd, link.valid);
            case Fault::OutOfRange:
                return loopback::sendAll(fd, link.outOfRange) && loopback::sendAll(fd, link.valid);
        }
        return false;
    };
}

}  // namespace faults
