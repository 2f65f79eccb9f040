#include "RegistrationServer.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "RegistrationScene.h"
#include "SimLog.h"

namespace {

void logRect(const char* server, const char* name, const RegRect& r) {
    simLog(server, "  %-8s x %.3f .. %.3f  y %.3f .. %.3f", name, static_cast<double>(r.x0),
           static_cast<double>(r.x1), static_cast<double>(r.y0), static_cast<double>(r.y1));
}

}  // namespace

RegistrationServer::RegistrationServer(RegistrationServerOptions options)
    : options_(std::move(options)) {}

RegistrationServer::~RegistrationServer() {
    stop();
}

bool RegistrationServer::start() {
    if (acceptThread_.joinable()) return true;
    if (!listener_.open(options_.address, options_.port)) {
        simLog(name(), "cannot listen on %s:%u: %s", options_.address.c_str(), options_.port,
               std::strerror(errno));
        return false;
    }
    pointBytes_ =
        EncodeRegPoints(regscene::makePoints(options_.width, options_.height, options_.seed));
    simLog(name(), "listening on %s:%u, %d x %d points", options_.address.c_str(), options_.port,
           options_.width, options_.height);
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void RegistrationServer::stop() {
    if (!acceptThread_.joinable()) return;
    listener_.close();
    acceptThread_.join();
    std::list<Session> ending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending.swap(sessions_);
    }
    for (Session& s : ending) shutdownSocket(s.fd);
    for (Session& s : ending) {
        s.thread.join();
        closeSocket(s.fd);
    }
    simLog(name(), "stopped");
}

void RegistrationServer::acceptLoop() {
    for (;;) {
        std::string peer;
        const int fd = listener_.accept(peer);
        if (fd < 0) return;
        simLog(name(), "client %s connected", peer.c_str());
        std::lock_guard<std::mutex> lock(mutex_);
        // Sessions that ended are joined here, so a long run keeps no threads.
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (!it->done) {
                ++it;
                continue;
            }
            it->thread.join();
            closeSocket(it->fd);
            it = sessions_.erase(it);
        }
        ++accepted_;
        sessions_.emplace_back();
        Session& s = sessions_.back();
        s.fd = fd;
        s.peer = peer;
        s.thread = std::thread([this, &s] { serve(s); });
        cond_.notify_all();
    }
}

void RegistrationServer::event() {
    cond_.notify_all();
}

void RegistrationServer::serve(Session& session) {
    int requestsHere = 0;
    for (;;) {
        uint8_t head[kRegRequestSize];
        if (!receiveAll(session.fd, head, sizeof head)) break;
        const uint32_t value = DecodeRegRequest(head);
        if (value == kRegResultCode) {
            // The result: the code was the first field of its 180 bytes.
            uint8_t record[kRegResultSize];
            std::memcpy(record, head, sizeof head);
            if (!receiveAll(session.fd, record + sizeof head, sizeof record - sizeof head)) {
                simLog(name(), "result cut short by %s", session.peer.c_str());
                break;
            }
            const RegResultRecord result = DecodeRegResult(record);
            logResult(result);
            std::lock_guard<std::mutex> lock(mutex_);
            results_.push_back(result);
            event();
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(value);
            event();
        }
        ++requestsHere;
        if (options_.silent) {
            simLog(name(), "request state %u: staying silent", value);
            continue;
        }
        const bool wantsPoints = value == 1 && requestsHere > options_.zeroAnswers;
        const auto reply = EncodeRegReply(wantsPoints ? kRegAnswerPoints : kRegAnswerNothing);
        if (!sendAll(session.fd, reply.data(), reply.size())) break;
        if (wantsPoints && !sendPointSet(session.fd)) break;
        if (!wantsPoints) simLog(name(), "request state %u: answer 0", value);
    }
    simLog(name(), "client %s disconnected", session.peer.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    session.done = true;
    event();
}

bool RegistrationServer::sendPointSet(int fd) {
    size_t length = pointBytes_.size();
    if (options_.shortPoints >= 0)
        length = std::min(length, static_cast<size_t>(options_.shortPoints) * kRegPointSize);
    RegPointHeader header;
    header.width = static_cast<uint32_t>(options_.width);
    header.height = static_cast<uint32_t>(options_.height);
    header.length = static_cast<int32_t>(length);
    const auto headerBytes = EncodeRegPointHeader(header);
    if (!sendAll(fd, headerBytes.data(), headerBytes.size())) return false;
    if (options_.dropInPoints) {
        sendAll(fd, pointBytes_.data(), length / 2);
        simLog(name(), "dropping the link halfway through %zu point bytes", length);
        shutdownSocket(fd);
        return false;
    }
    if (!sendAll(fd, pointBytes_.data(), length)) return false;
    simLog(name(), "sent point set %u x %u, %zu bytes", header.width, header.height, length);
    std::lock_guard<std::mutex> lock(mutex_);
    ++pointSets_;
    event();
    return true;
}

void RegistrationServer::logResult(const RegResultRecord& r) {
    simLog(name(), "result received: code %u", r.code);
    for (int i = 0; i < 4; ++i) {
        const auto& row = r.matrix.m[i];
        simLog(name(), "  matrix row %d: %9.6f %9.6f %9.6f %9.6f", i, static_cast<double>(row[0]),
               static_cast<double>(row[1]), static_cast<double>(row[2]),
               static_cast<double>(row[3]));
    }
    simLog(name(), "  installation height %.3f m", static_cast<double>(r.matrix.m23()));
    const char* names[] = {"gate", "area 1", "area 2", "area 3", "area 4", "area 5", "reserved"};
    for (size_t k = 0; k < r.areas.size(); ++k) logRect(name(), names[k], r.areas[k]);
}

std::vector<RegResultRecord> RegistrationServer::results() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
}

std::vector<uint32_t> RegistrationServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int RegistrationServer::pointSetsSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pointSets_;
}

int RegistrationServer::connectionsAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

bool RegistrationServer::waitFor(const std::function<bool()>& predicate,
                                 std::chrono::milliseconds timeout) const {
    // The predicate takes the lock itself (through the getters), so it runs
    // unlocked, and the wait is sliced so that no event can be missed for long.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (predicate()) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        if (std::chrono::steady_clock::now() >= deadline) return false;
        cond_.wait_for(lock, std::chrono::milliseconds(20));
    }
}
