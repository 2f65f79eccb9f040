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

}  // namespace

void traceOut(const std::string& text) {
    std::lock_guard<std::mutex> lock(consoleMutex());
    std::cout << text;
}

void messageOut(const std::string& text) {
    std::lock_guard<std::mutex> lock(consoleMutex());
    std::cout << text << std::endl;
}

void messageErr(const std::string& text) {
    std::lock_guard<std::mutex> lock(consoleMutex());
    std::cerr << text << std::endl;
}

void stampedOut(const std::string& text) {
    const std::string line = "[" + clockText() + "] " + text;
    std::lock_guard<std::mutex> lock(consoleMutex());
    std::cout << line << std::endl;
}

}  // namespace kestsdk
