#include "MaintenanceServer.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "SimLog.h"
#include "core/ByteOrder.h"
#include "maintenance/MaintenanceProtocol.h"
#include "maintenance/UpInfo.h"

namespace {

// A client that stops sending in the middle of a request is dropped after this.
constexpr int kClientReceiveTimeoutMs = 10000;
// Longest address text a device accepts (a dotted IPv4 address has 15).
constexpr uint32_t kMaxAddressLength = 64;
constexpr size_t kPackagePiece = 1 << 20;

bool receiveU32(int fd, uint32_t& value) {
    uint8_t bytes[4];
    if (!receiveAll(fd, bytes, sizeof bytes)) return false;
    value = readU32le(bytes);
    return true;
}

const char* commandName(uint16_t port, uint32_t code, uint16_t upgradePort) {
    if (port == upgradePort) {
        if (code == kCmdUpgrade) return "Upgrade";
        if (code == kCmdGetVersion) return "GetVersion";
        return nullptr;
    }
    switch (code) {
        case kCmdReboot:
            return "Reboot";
        case kCmdSetDeviceIp:
            return "SetDeviceIp";
        case kCmdSetInterface:
            return "SetInterface";
        case kCmdGenerateBackground:
            return "GenerateBackground";
        default:
            return nullptr;
    }
}

}  // namespace

struct MaintenanceServer::Port {
    uint16_t number = 0;
    TcpListener listener;
    std::thread thread;
    std::atomic<int> activeFd{-1};
};

MaintenanceServer::MaintenanceServer(MaintenanceServerOptions options)
    : options_(std::move(options)), answer_(options_.answer), status_(options_.status) {}

MaintenanceServer::~MaintenanceServer() {
    stop();
}

bool MaintenanceServer::start() {
    if (!ports_.empty()) return true;
    stopping_ = false;
    for (uint16_t number : {options_.upgradePort, options_.filePort}) {
        auto port = std::make_unique<Port>();
        port->number = number;
        if (!port->listener.open(options_.address, number)) {
            simLog(name(), "cannot listen on %s:%u: %s", options_.address.c_str(), number,
                   std::strerror(errno));
            stop();
            return false;
        }
        ports_.push_back(std::move(port));
    }
    for (auto& port : ports_) {
        Port* p = port.get();
        p->thread = std::thread([this, p] { serve(*p); });
    }
    simLog(name(),
           "upgrade server %s:%u, file server %s:%u; answering %s, version \"%s\" date \"%s\"",
           options_.address.c_str(), options_.upgradePort, options_.address.c_str(),
           options_.filePort, answer_ ? std::to_string(status_).c_str() : "nothing",
           options_.version.c_str(), options_.date.c_str());
    return true;
}

void MaintenanceServer::stop() {
    if (ports_.empty()) return;
    stopping_ = true;
    for (auto& port : ports_) {
        port->listener.close();
        shutdownSocket(port->activeFd.load());
    }
    for (auto& port : ports_)
        if (port->thread.joinable()) port->thread.join();
    ports_.clear();
    simLog(name(), "stopped");
}

void MaintenanceServer::setAnswer(bool answer, int32_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = answer;
    status_ = status;
}

std::vector<MaintenanceRequestLog> MaintenanceServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool MaintenanceServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void MaintenanceServer::serve(Port& port) {
    // One command at a time per server, as the device handles them.
    for (;;) {
        std::string peer;
        const int fd = port.listener.accept(peer);
        if (fd < 0) return;
        port.activeFd = fd;
        if (stopping_) shutdownSocket(fd);
        timeval timeout{};
        timeout.tv_sec = kClientReceiveTimeoutMs / 1000;
        (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        handle(fd, port.number);
        port.activeFd = -1;
        closeSocket(fd);
    }
}

void MaintenanceServer::handle(int fd, uint16_t port) {
    MaintenanceRequestLog log;
    log.port = port;
    if (!receiveU32(fd, log.code)) return;  // connected and went without a word
    const char* command = commandName(port, log.code, options_.upgradePort);
    const char* server = port == options_.upgradePort ? "upgrade server" : "file server";
    if (!command) {
        simLog(name(), "%s: unknown command %u, connection closed", server, log.code);
        record(log);
        return;
    }

    bool complete = true;
    if (port == options_.upgradePort && log.code == kCmdUpgrade)
        complete = readUpgrade(fd, log);
    else if (port == options_.filePort && log.code == kCmdSetDeviceIp)
        complete = readAddress(fd, log, false);
    else if (port == options_.filePort && log.code == kCmdSetInterface)
        complete = readAddress(fd, log, true);
    // Answered, but a package read only in part is no complete request.
    log.complete = complete && log.packageReceived == static_cast<uint64_t>(log.packageSize);

    if (log.code == kCmdUpgrade && port == options_.upgradePort) {
        simLog(
            name(),
            "%s: %s filetype=%d ishaveupfile=%d ishaveprofile=%d ishavealgfile=%d filename=\"%s\" "
            "version=\"%s\" date=\"%s\" package %lld bytes (%llu received) crc32 %08x",
            server, command, log.filetype, log.ishaveupfile, log.ishaveprofile, log.ishavealgfile,
            log.filename.c_str(), log.version.c_str(), log.date.c_str(),
            static_cast<long long>(log.packageSize),
            static_cast<unsigned long long>(log.packageReceived), log.packageCrc);
    } else if (log.code == kCmdSetInterface && port == options_.filePort) {
        simLog(name(), "%s: %s address \"%s\" port %u", server, command, log.text.c_str(),
               log.value);
    } else if (log.code == kCmdSetDeviceIp && port == options_.filePort) {
        simLog(name(), "%s: %s address \"%s\"", server, command, log.text.c_str());
    } else {
        simLog(name(), "%s: %s", server, command);
    }

    if (!complete) {
        simLog(name(), "%s: request incomplete, connection closed", server);
    } else {
        answer(fd, log);
    }
    record(log);
}

bool MaintenanceServer::readUpgrade(int fd, MaintenanceRequestLog& log) {
    UpInfoBytes bytes{};
    if (!receiveAll(fd, bytes.data(), bytes.size())) return false;
    const UpInfo info = decodeUpInfo(bytes.data());
    log.filetype = info.filetype;
    log.ishaveupfile = info.ishaveupfile;
    log.ishaveprofile = info.ishaveprofile;
    log.ishavealgfile = info.ishavealgfile;
    log.filename = upInfoText(info.filename);
    log.version = upInfoText(info.version);
    log.date = upInfoText(info.date);
    log.packageSize = info.filesize;
    if (info.filesize < 0) return false;

    // The package streams through: only its size and checksum are kept.
    std::vector<uint8_t> piece(kPackagePiece);
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t left = static_cast<uint64_t>(info.filesize);
    if (options_.packageReadLimit > 0 && options_.packageReadLimit < left) {
        simLog(name(), "reading only %llu bytes of the package",
               static_cast<unsigned long long>(options_.packageReadLimit));
        left = options_.packageReadLimit;
    }
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        const ssize_t n = ::recv(fd, piece.data(), want, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        crc = crc32(crc, piece.data(), static_cast<uInt>(n));
        left -= static_cast<uint64_t>(n);
        log.packageReceived += static_cast<uint64_t>(n);
    }
    log.packageCrc = static_cast<uint32_t>(crc);
    return left == 0;
}

bool MaintenanceServer::readAddress(int fd, MaintenanceRequestLog& log, bool withPort) {
    uint32_t length = 0;
    if (!receiveU32(fd, length)) return false;
    if (length > kMaxAddressLength) {
        simLog(name(), "address length %u out of range", length);
        return false;
    }
    std::string text(length, '\0');
    if (!receiveAll(fd, reinterpret_cast<uint8_t*>(text.data()), length)) return false;
    log.text = text;
    return !withPort || receiveU32(fd, log.value);
}

void MaintenanceServer::answer(int fd, const MaintenanceRequestLog& log) {
    bool answer = true;
    int32_t status = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answer = answer_;
        status = status_;
    }
    if (!answer) {
        // Silent: keep the link until the client gives up and closes it.
        simLog(name(), "no answer");
        uint8_t sink[64];
        while (!stopping_) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                break;
        }
        return;
    }
    std::vector<uint8_t> reply(kStatusSize);
    writeI32le(reply.data(), status);
    if (log.code == kCmdGetVersion && log.port == options_.upgradePort && status == kStatusOk) {
        UpInfo running;
        setUpInfoText(running.version, options_.version);
        setUpInfoText(running.date, options_.date);
        const UpInfoBytes record = encodeUpInfo(running);
        reply.insert(reply.end(), record.begin(), record.end());
    }
    simLog(name(), "answered status %d%s", status,
           reply.size() > kStatusSize ? " with the version record" : "");
    sendAll(fd, reply.data(), reply.size());
}

void MaintenanceServer::record(MaintenanceRequestLog log) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(log));
    }
    changed_.notify_all();
}
