#include "ClientConsole.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>

#include "SocketPort.h"

namespace kestsdk {
namespace {

std::mutex& consoleMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string clockText() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    char text[16] = "00:00:00";
    if (net::localTime(now, parts)) std::strftime(text, sizeof text, "%H:%M:%S", &parts);
    return text;
}

// The line and its end in one write: a trace line of the application, which
// does not take this lock, can then only come before or after it.
void writeLine(std::ostream& stream, const std::string& line) {
    std::lock_guard<std::mutex> lock(consoleMutex());
    stream << line << std::flush;
}

}  // namespace

void traceOut(const std::string& text) {
    std::lock_guard<std::mutex> lock(consoleMutex());
    std::cout << text;
}

void messageOut(const std::string& text) {
    writeLine(std::cout, text + "\n");
}

void messageErr(const std::string& text) {
    writeLine(std::cerr, text + "\n");
}

void stampedOut(const std::string& text) {
    writeLine(std::cout, "[" + clockText() + "] " + text + "\n");
}

}  // namespace kestsdk
