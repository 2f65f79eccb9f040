// SocketClient: the gate-linkage connection itself. Every replacement of the
// socket happens under sendMutex and then recvMutex, so a send or a read in
// progress always finishes on the socket it started with.
#include <string>

#include "ClientConsole.h"
#include "KestSdk/DeviceClient.h"
#include "KestSdk/DeviceClientTiming.h"
#include "SocketPort.h"

using namespace kestsdk;

namespace {

std::string codeText() {
    return std::to_string(net::lastError());
}

}  // namespace

SocketClient::SocketClient()
    : socketHandle(net::kInvalid),
      linkGeneration(0),
      lastHost(),
      lastPort(0),
      winsockStarted(false) {
    const int code = net::startup();
    if (code != 0) {
        messageErr("WSAStartup failed: " + std::to_string(code));
        return;
    }
    winsockStarted = true;
}

SocketClient::~SocketClient() {
    closeSocket();
    if (winsockStarted) {
        net::cleanup();
        winsockStarted = false;
    }
}

void SocketClient::closeSocket() {
    std::lock_guard<std::mutex> sendLock(sendMutex);
    std::lock_guard<std::mutex> recvLock(recvMutex);
    const SocketHandle s = net::loadHandle(socketHandle);
    if (s != net::kInvalid) {
        net::shutdownAndClose(s);
        net::storeHandle(socketHandle, net::kInvalid);
    }
    ++linkGeneration;
}

void SocketClient::closeSocketIfCurrent(uint64_t generation) {
    std::lock_guard<std::mutex> sendLock(sendMutex);
    std::lock_guard<std::mutex> recvLock(recvMutex);
    const SocketHandle s = net::loadHandle(socketHandle);
    if (generation != linkGeneration || s == net::kInvalid) return;
    net::shutdownAndClose(s);
    net::storeHandle(socketHandle, net::kInvalid);
    ++linkGeneration;
}

// The new socket is prepared and connected on its own and only then put in
// place, so a failed attempt leaves no socket behind and concurrent attempts
// (application and reconnect thread) cannot leak one.
bool SocketClient::connectTo(const std::string& host, int port) {
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        lastHost = host;
        lastPort = port;
    }
    closeSocket();

    const SocketHandle s = net::openTcp();
    if (s == net::kInvalid) {
        messageErr("socket failed: " + codeText());
        return false;
    }
    const DeviceClientTiming& timing = deviceClientTiming();
    if (!net::setTimeoutMs(s, SO_SNDTIMEO, timing.sendTimeoutMs.load())) {
        messageErr("setsockopt SO_SNDTIMEO failed: " + codeText());
        net::shutdownAndClose(s);
        return false;
    }
    if (!net::setTimeoutMs(s, SO_RCVTIMEO, timing.receiveTimeoutMs.load())) {
        messageErr("setsockopt SO_RCVTIMEO failed: " + codeText());
        net::shutdownAndClose(s);
        return false;
    }
    // A refused SO_KEEPALIVE is not worth a message: the link still works.
    if (net::setIntOption(s, SOL_SOCKET, SO_KEEPALIVE, 1)) {
        net::setKeepAliveValues(s, timing.keepAliveTimeMs.load(),
                                timing.keepAliveIntervalMs.load());
    }

    in_addr address{};
    if (!net::resolveIPv4(host, address)) {
        messageErr("Invalid address/Address not supported: " + host);
        net::shutdownAndClose(s);
        return false;
    }
    // A port outside 16 bits would silently reach another port.
    if (port < 0 || port > 65535) {
        messageErr("connect failed: " + std::to_string(net::kInvalidArgument));
        net::shutdownAndClose(s);
        return false;
    }
    if (!net::connectIPv4(s, address, port, timing.connectTimeoutMs.load())) {
        messageErr("connect failed: " + codeText());
        net::shutdownAndClose(s);
        return false;
    }
    if (!net::setIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1)) {
        messageErr("setsockopt TCP_NODELAY failed: " + codeText());
    }

    std::lock_guard<std::mutex> sendLock(sendMutex);
    std::lock_guard<std::mutex> recvLock(recvMutex);
    const SocketHandle old = net::loadHandle(socketHandle);
    if (old != net::kInvalid) net::shutdownAndClose(old);
    net::storeHandle(socketHandle, s);
    ++linkGeneration;
    return true;
}
