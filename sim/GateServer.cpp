#include "GateServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "GateScene.h"
#include "SimLog.h"
#include "TcpListener.h"

namespace {

constexpr const char* kLogName = "gate";
constexpr size_t kFrameSize = 16;
constexpr uint8_t kNoDoorState = 0xFF;  // byte 12 of an alarm that reports no door change

constexpr uint8_t kCmdAuthorisation = 0x60;
constexpr uint8_t kCmdHeartbeat = 0x61;
constexpr uint8_t kCmdTimeout = 0x70;

// Byte 4 of the pushes this device sends.
constexpr uint8_t kPushAlarm = 0x01;
constexpr uint8_t kPushDoor = 0x02;
constexpr uint8_t kPushAlarmAndDoor = 0x03;

const char* alarmGloss(uint8_t code) {
    switch (code) {
        case 1:
            return "tailgating";
        case 2:
            return "intrusion";
        case 3:
            return "rushing through";
        case 4:
            return "against the direction";
        case 5:
            return "lingering";
        case 6:
            return "climbing over";
        case 7:
            return "authorisation timed out";
        case 8:
            return "object left behind";
        case 9:
            return "safety zone occupied";
        case 10:
            return "intent to enter";
        case 11:
            return "intent to leave";
        case 0x99:
            return "alarm ended";
        default:
            return nullptr;
    }
}

const char* doorGloss(uint8_t state) {
    switch (state) {
        case 0:
            return "opened";
        case 1:
            return "closed";
        case 2:
            return "paused";
        default:
            return nullptr;
    }
}

std::string format(const char* fmt, int a, int b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

}  // namespace

SimGateFrame makeGateFrame(uint8_t kind, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5,
                           uint8_t p6, uint8_t p7) {
    SimGateFrame f{};
    f[0] = 0x7E;
    f[1] = 0x00;
    f[2] = 0x01;
    f[3] = kind;
    f[4] = p1;
    f[5] = p2;
    f[6] = p3;
    f[7] = p4;
    f[8] = p5;
    f[9] = 0x00;
    f[10] = 0x00;
    f[11] = p6;
    f[12] = p7;
    f[13] = 0xAA;
    f[14] = 0xBB;
    f[15] = 0x7E;
    return f;
}

bool gateFrameMarkersValid(const uint8_t* f) {
    return f[0] == 0x7E && f[13] == 0xAA && f[14] == 0xBB && f[15] == 0x7E;
}

std::string gateHex(const uint8_t* data, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        text += byte;
    }
    return text;
}

std::string describeGateCommand(const SimGateFrame& f) {
    switch (f[4]) {
        case kCmdAuthorisation: {
            const char* direction = f[11] == 1   ? "forward"
                                    : f[11] == 2 ? "reverse"
                                    : f[11] == 0 ? "cancel"
                                                 : nullptr;
            if (direction)
                return std::string("authorisation ") + direction +
                       format(" (first argument %d)", f[5]);
            return format("authorisation with unknown direction %d (first argument %d)", f[11],
                          f[5]);
        }
        case kCmdHeartbeat:
            return "heartbeat";
        case kCmdTimeout:
            return format("timeout setting %d", f[5]);
        default:
            return format("unknown command 0x%02X", f[4]);
    }
}

std::string describeGatePush(const SimGateFrame& f) {
    std::string text;
    if (const char* alarm = alarmGloss(f[6]))
        text = format("alarm 0x%02X ", f[6]) + alarm;
    else if (f[6] != 0)
        text = format("alarm code 0x%02X outside the table", f[6]);
    if (f[12] != kNoDoorState) {
        if (!text.empty()) text += ", ";
        if (const char* door = doorGloss(f[12]))
            text += format("door %d ", f[12]) + door;
        else
            text += format("door state %d outside the table", f[12]);
    }
    return text.empty() ? "nothing to show" : text;
}

SimGateFrame gateResponseFor(const SimGateFrame& command) {
    return makeGateFrame(0x00, command[4], command[5], 0, 0, 0, command[11], 0);
}

const std::vector<SimGateFrame>& gatePushScript() {
    static const std::vector<SimGateFrame> script = [] {
        std::vector<SimGateFrame> frames;
        for (uint8_t code = 1; code <= 11; ++code)
            frames.push_back(makeGateFrame(1, kPushAlarm, 0, code, 0, 0, 0, kNoDoorState));
        frames.push_back(makeGateFrame(1, kPushAlarm, 0, 0x99, 0, 0, 0, kNoDoorState));
        for (uint8_t state = 0; state <= 2; ++state)
            frames.push_back(makeGateFrame(1, kPushDoor, 0, 0, 0, 0, 0, state));
        frames.push_back(makeGateFrame(1, kPushAlarm, 0, 0x0C, 0, 0, 0, kNoDoorState));
        frames.push_back(makeGateFrame(1, kPushAlarm, 0, 0x98, 0, 0, 0, kNoDoorState));
        frames.push_back(makeGateFrame(1, kPushDoor, 0, 0, 0, 0, 0, 0x03));
        frames.push_back(makeGateFrame(1, kPushAlarmAndDoor, 0, 0x01, 0, 0, 0, 0x01));
        return frames;
    }();
    return script;
}

struct GateServer::Listener {
    uint16_t port = 0;
    TcpListener socket;
    std::thread thread;
};

// Shared with pushToAll, which sends without the server's lock: the socket is
// closed only when the last user lets go of the session.
struct GateServer::Session {
    ~Session() { closeSocket(fd); }
    int fd = -1;
    uint16_t port = 0;
    int id = 0;
    std::mutex sendMutex;
    bool finished = false;  // the reader has ended (guarded by the server's mutex)
    std::thread reader;
    std::thread pusher;
};

GateServer::GateServer(GateServerOptions options) : options_(std::move(options)) {}

GateServer::~GateServer() {
    stop();
}

bool GateServer::start() {
    if (!listeners_.empty()) return true;
    for (uint16_t port : {options_.alarmPort, options_.receivePort}) {
        auto listener = std::make_unique<Listener>();
        listener->port = port;
        if (!listener->socket.open(options_.address, port)) {
            simLog(kLogName, "cannot listen on %s:%u: %s", options_.address.c_str(), port,
                   std::strerror(errno));
            stop();
            return false;
        }
        listeners_.push_back(std::move(listener));
    }
    for (auto& listener : listeners_) {
        simLog(kLogName, "listening on %s:%u", options_.address.c_str(), listener->port);
        listener->thread = std::thread(&GateServer::listenLoop, this, listener.get());
    }
    return true;
}

void GateServer::stop() {
    const bool wasListening = !listeners_.empty();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    event_.notify_all();
    for (auto& listener : listeners_) {
        listener->socket.close();
        if (listener->thread.joinable()) listener->thread.join();
    }
    listeners_.clear();

    std::list<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions.swap(sessions_);
    }
    for (auto& session : sessions) closeLink(session.get());
    for (auto& session : sessions) {
        if (session->reader.joinable()) session->reader.join();
        if (session->pusher.joinable()) session->pusher.join();
    }
    if (wasListening) simLog(kLogName, "%s: stopped", options_.address.c_str());
}

void GateServer::listenLoop(Listener* listener) {
    int nextId = 1;
    for (;;) {
        std::string peer;
        const int fd = listener->socket.accept(peer);
        if (fd < 0) break;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        timeval sendLimit{};
        sendLimit.tv_sec = options_.sendTimeoutMs / 1000;
        sendLimit.tv_usec = (options_.sendTimeoutMs % 1000) * 1000;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        reapFinished();

        auto session = std::make_shared<Session>();
        session->fd = fd;
        session->port = listener->port;
        session->id = nextId++;
        Session* raw = session.get();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;  // the session closes its socket
            (listener->port == options_.alarmPort ? acceptedAlarm_ : acceptedReceive_)++;
            ++eventCount_;
            sessions_.push_back(std::move(session));
            raw->reader = std::thread(&GateServer::readLoop, this, raw);
            if (options_.pushIntervalMs > 0)
                raw->pusher = std::thread(&GateServer::pushLoop, this, raw);
        }
        event_.notify_all();
        simLog(kLogName, "%s:%u: link %d from %s", options_.address.c_str(), listener->port,
               raw->id, peer.c_str());
    }
}

void GateServer::readLoop(Session* session) {
    std::vector<uint8_t> pending;
    std::vector<uint8_t> skipped;
    uint8_t chunk[1024];
    auto logSkipped = [&] {
        if (skipped.empty()) return;
        simLog(kLogName, "%s:%u: skipped %zu byte(s) that start no frame: %s",
               options_.address.c_str(), session->port, skipped.size(),
               gateHex(skipped.data(), skipped.size()).c_str());
        skipped.clear();
    };
    for (;;) {
        const ssize_t n = ::recv(session->fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        pending.insert(pending.end(), chunk, chunk + n);
        size_t pos = 0;
        while (pending.size() - pos >= kFrameSize) {
            if (!gateFrameMarkersValid(&pending[pos])) {
                skipped.push_back(pending[pos++]);
                continue;
            }
            logSkipped();
            SimGateFrame frame;
            std::memcpy(frame.data(), &pending[pos], kFrameSize);
            pos += kFrameSize;
            simLog(kLogName, "%s:%u: recv %s  (%s)", options_.address.c_str(), session->port,
                   gateHex(frame.data(), frame.size()).c_str(), describeGateCommand(frame).c_str());
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back({session->port, frame});
                ++eventCount_;
            }
            event_.notify_all();
            sendFrame(session, gateResponseFor(frame));
        }
        logSkipped();
        // Only the tail that may still become a frame stays (under 16 bytes).
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pos));
    }
    simLog(kLogName, "%s:%u: link %d ended", options_.address.c_str(), session->port, session->id);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session->finished = true;
        ++eventCount_;
    }
    event_.notify_all();
}

// Pushes keep their period on the steady clock: the time a push and its log
// line take does not add up, so a station of gates pushes at the rate asked.
// A link that fell behind (a slow client) starts a new schedule instead of
// catching up in a burst.
void GateServer::pushLoop(Session* session) {
    const auto& script = gatePushScript();
    GateScene scene(options_.sceneSeed);
    const auto interval = std::chrono::milliseconds(options_.pushIntervalMs);
    size_t index = 0;
    int sentOnLink = 0;
    auto next = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        next += interval;
        const auto now = std::chrono::steady_clock::now();
        if (next + interval < now) next = now + interval;
        if (event_.wait_until(lock, next, [&] { return stopping_ || session->finished; })) break;
        lock.unlock();
        const SimGateFrame frame =
            options_.seededScene ? scene.next() : script[index++ % script.size()];
        const bool sent = sendFrame(session, frame);
        if (sent)
            simLog(kLogName, "%s:%u: push %s  (%s)", options_.address.c_str(), session->port,
                   gateHex(frame.data(), frame.size()).c_str(), describeGatePush(frame).c_str());
        const bool drop = sent && options_.dropEvery > 0 && ++sentOnLink % options_.dropEvery == 0;
        if (drop) {
            simLog(kLogName, "%s:%u: dropping link %d after %d pushes", options_.address.c_str(),
                   session->port, session->id, sentOnLink);
            closeLink(session);
        }
        lock.lock();
        if (!sent) break;
        ++pushes_;
        ++eventCount_;
        event_.notify_all();
    }
}

// A send that times out (the client reads nothing) or fails ends the link;
// the reader then sees the end and the session is reaped.
bool GateServer::sendFrame(Session* session, const SimGateFrame& frame) {
    std::lock_guard<std::mutex> lock(session->sendMutex);
    if (sendAll(session->fd, frame.data(), frame.size())) return true;
    shutdownSocket(session->fd);
    return false;
}

// Without the send lock: a send blocked on a client that reads nothing ends
// at once instead of after its time-out. The socket itself stays open until
// the session goes, so a send in progress never meets a reused descriptor.
void GateServer::closeLink(Session* session) {
    shutdownSocket(session->fd);
}

void GateServer::reapFinished() {
    std::list<std::shared_ptr<Session>> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& session : done) {
        session->reader.join();
        if (session->pusher.joinable()) session->pusher.join();
    }
}

int GateServer::pushToAll(const SimGateFrame& frame) {
    std::vector<std::shared_ptr<Session>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& session : sessions_)
            if (!session->finished) targets.push_back(session);
    }
    int count = 0;
    for (auto& session : targets) {
        if (!sendFrame(session.get(), frame)) continue;
        ++count;
        simLog(kLogName, "%s:%u: push %s  (%s)", options_.address.c_str(), session->port,
               gateHex(frame.data(), frame.size()).c_str(), describeGatePush(frame).c_str());
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pushes_ += count;
        ++eventCount_;
    }
    event_.notify_all();
    return count;
}

void GateServer::dropAll() {
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& session : sessions_)
            if (!session->finished) open.push_back(session);
    }
    for (auto& session : open) {
        simLog(kLogName, "%s:%u: dropping link %d", options_.address.c_str(), session->port,
               session->id);
        closeLink(session.get());
    }
}

std::vector<ReceivedGateFrame> GateServer::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

int GateServer::countReceived(uint8_t commandCode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& r : received_)
        if (r.frame[4] == commandCode) ++n;
    return n;
}

int GateServer::connectionsAccepted(uint16_t port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (port == options_.alarmPort) return acceptedAlarm_;
    if (port == options_.receivePort) return acceptedReceive_;
    return 0;
}

int GateServer::openConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& session : sessions_)
        if (!session->finished) ++n;
    return n;
}

int GateServer::pushesSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pushes_;
}

bool GateServer::waitFor(const std::function<bool()>& predicate,
                         std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const uint64_t seen = eventCount_;
        lock.unlock();
        const bool holds = predicate();
        lock.lock();
        if (holds) return true;
        if (!event_.wait_until(lock, deadline, [&] { return eventCount_ != seen; })) return false;
    }
}
