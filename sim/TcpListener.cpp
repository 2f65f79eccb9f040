#include "TcpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

TcpListener::~TcpListener() {
    close();
}

bool isLoopbackAddress(const std::string& address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool TcpListener::open(const std::string& address, uint16_t port) {
    release();
    if (!isLoopbackAddress(address)) {
        errno = EADDRNOTAVAIL;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    fd_ = fd;
    closing_ = false;
    return true;
}

int TcpListener::accept(std::string& peer) {
    const int listenFd = fd_;
    if (listenFd < 0) return -1;
    for (;;) {
        if (closing_) return -1;
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        const int fd = ::accept(listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
        if (fd >= 0 && closing_) {
            ::close(fd);
            return -1;
        }
        if (fd >= 0) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
            peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
            return fd;
        }
        if (errno != EINTR && errno != ECONNABORTED) return -1;
    }
}

void TcpListener::close() {
    closing_ = true;
    // shutdown makes a thread blocked in accept return on Linux.
    const int fd = fd_;
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void TcpListener::release() {
    closing_ = true;
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

bool sendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool receiveAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void shutdownSocket(int fd) {
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void closeSocket(int fd) {
    if (fd >= 0) ::close(fd);
}
