#include "FaultPeer.h"

#include <sys/socket.h>

#include <algorithm>
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
// How long the device waits for a client's request.
constexpr int kRequestWaitMs = 5000;
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
        case Fault::UnreadRequest:
            return "UnreadRequest";
    }
    return "?";
}

std::vector<Fault> allFaults() {
    return {Fault::CloseMidFrame, Fault::ResetMidFrame, Fault::GoSilent,
            Fault::Dribble,       Fault::Garbage,       Fault::OutOfRange};
}

std::vector<Fault> requestFaults() {
    std::vector<Fault> all = allFaults();
    all.push_back(Fault::UnreadRequest);
    return all;
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

namespace {

// Reads size bytes of the client's request. A link that watches requests
// gets them whole; otherwise they are read through a small buffer, so that a
// request of megabytes (a package) costs the peer no heap while the client's
// memory is measured.
bool readRequest(const LinkBytes& link, int n, int fd, size_t size) {
    if (size == 0) return true;
    if (link.onRequest) {
        const Bytes request = loopback::receive(fd, size, kRequestWaitMs);
        link.onRequest(n, request);
        return request.size() == size;
    }
    uint8_t piece[16384];
    for (size_t got = 0; got < size;) {
        if (!loopback::readable(fd, kRequestWaitMs)) return false;
        const auto r = ::recv(fd, piece, std::min(sizeof piece, size - got), 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// Sends part of a frame where it lies: the peer allocates nothing while the
// client's memory is measured.
bool sendRange(int fd, const Bytes& bytes, size_t from, size_t to) {
    size_t sent = from;
    while (sent < to) {
        const auto n = ::send(fd, bytes.data() + sent, to - sent, loopback::kSendFlags);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}
bool sendAll(int fd, const Bytes& bytes) {
    return sendRange(fd, bytes, 0, bytes.size());
}

void setReset(int fd) {
    const linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

// The valid frame, then the rest of the conversation.
bool behave(const LinkBytes& link, int fd) {
    if (!sendAll(fd, link.valid)) return false;
    return link.afterValid ? link.afterValid(fd) : true;
}

}  // namespace

std::string failureLines(const std::string& console) {
    static const char* const kWords[] = {"失败", "超出",  "断开",    "不同步",
                                         "不是", "ended", "not sent"};
    std::vector<std::pair<std::string, int>> seen;
    size_t start = 0;
    while (start < console.size()) {
        size_t end = console.find('\n', start);
        if (end == std::string::npos) end = console.size();
        const std::string line = console.substr(start, end - start);
        start = end + 1;
        const bool failure = std::any_of(std::begin(kWords), std::end(kWords), [&](const char* w) {
            return line.find(w) != std::string::npos;
        });
        if (!failure) continue;
        auto it =
            std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == line; });
        if (it == seen.end())
            seen.emplace_back(line, 1);
        else
            ++it->second;
    }
    std::string out;
    for (const auto& [line, count] : seen) {
        if (!out.empty()) out += " | ";
        out += line;
        if (count > 1) out += " x" + std::to_string(count);
    }
    return out.empty() ? "(no failure line)" : out;
}

LoopbackListener::Script faultScript(const LinkBytes& link, Fault fault) {
    return [link, fault](int n, int fd) {
        const size_t requestSize =
            n == 0 && fault == Fault::UnreadRequest ? link.requestSize / 2 : link.requestSize;
        if (!readRequest(link, n, fd, requestSize)) return false;
        if (n > 0) return behave(link, fd);
        const size_t cut =
            std::min(link.cutAt > 0 ? link.cutAt : link.valid.size() / 2, link.valid.size());
        switch (fault) {
            case Fault::CloseMidFrame:
                std::this_thread::sleep_for(kSettle);
                sendRange(fd, link.valid, 0, cut);
                return false;
            case Fault::ResetMidFrame: {
                std::this_thread::sleep_for(kSettle);
                sendRange(fd, link.valid, 0, cut);
                setReset(fd);
                return false;
            }
            case Fault::GoSilent:
                return true;
            case Fault::Dribble: {
                const size_t slow = std::min(link.dribbleBytes, link.valid.size());
                for (size_t i = 0; i < slow; ++i) {
                    if (!sendRange(fd, link.valid, i, i + 1)) return false;
                    std::this_thread::sleep_for(kDribblePause);
                }
                if (!sendRange(fd, link.valid, slow, link.valid.size())) return false;
                return link.afterValid ? link.afterValid(fd) : true;
            }
            case Fault::Garbage:
                // A client that gives up on the stream closes; the send then fails.
                return sendAll(fd, link.garbage) && behave(link, fd);
            case Fault::OutOfRange:
                return sendAll(fd, link.outOfRange) && behave(link, fd);
            case Fault::UnreadRequest:
                // The answer, and a close that resets what is still on its way in.
                sendAll(fd, link.valid);
                setReset(fd);
                return false;
        }
        return false;
    };
}

}  // namespace faults
