#include "SocketFaults.h"

// Only where the library's calls can be interposed this way (ELF systems).
#if !defined(_WIN32)

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>

namespace {

enum class Fault { None, ShortSend, SendTimeout, InterruptedRecv };

std::atomic<int> g_fd{-1};
std::atomic<Fault> g_fault{Fault::None};
std::atomic<size_t> g_accepted{0};

using SendFn = ssize_t (*)(int, const void*, size_t, int);
using RecvFn = ssize_t (*)(int, void*, size_t, int);

SendFn realSend() {
    static const SendFn fn = reinterpret_cast<SendFn>(dlsym(RTLD_NEXT, "send"));
    return fn;
}
RecvFn realRecv() {
    static const RecvFn fn = reinterpret_cast<RecvFn>(dlsym(RTLD_NEXT, "recv"));
    return fn;
}

}  // namespace

void injectShortSendThenTimeout(int fd, size_t accepted) {
    g_accepted = accepted;
    g_fault = Fault::ShortSend;
    g_fd = fd;
}

void injectInterruptedReceive(int fd) {
    g_fault = Fault::InterruptedRecv;
    g_fd = fd;
}

void clearSocketFaults() {
    g_fd = -1;
    g_fault = Fault::None;
}

extern "C" ssize_t send(int fd, const void* data, size_t length, int flags) {
    if (fd == g_fd.load()) {
        Fault expected = Fault::ShortSend;
        if (g_fault.compare_exchange_strong(expected, Fault::SendTimeout)) {
            const size_t part = length < g_accepted.load() ? length : g_accepted.load();
            if (part > 0) return realSend()(fd, data, part, flags);
            g_fault = Fault::None;  // nothing went out: the time-out comes at once
            errno = EAGAIN;
            return -1;
        }
        expected = Fault::SendTimeout;
        if (g_fault.compare_exchange_strong(expected, Fault::None)) {
            errno = EAGAIN;
            return -1;
        }
    }
    return realSend()(fd, data, length, flags);
}

extern "C" ssize_t recv(int fd, void* data, size_t length, int flags) {
    Fault expected = Fault::InterruptedRecv;
    if (fd == g_fd.load() && g_fault.compare_exchange_strong(expected, Fault::None)) {
        errno = EINTR;
        return -1;
    }
    return realRecv()(fd, data, length, flags);
}

#endif
