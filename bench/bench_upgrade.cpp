// Upgrade of a large package to the simulated upgrade server on loopback.
// In the same run, rounds interleaved, we measure
//   plain:  one connect and a plain send loop of the same request bytes,
//           then the status, as a bare client would do it;
//   tool:   the tool's upgrade exchange (connection procedure, pieces with
//           progress, the pause, the status receive);
// and report the wire rate of both (min/median/max over the rounds) and
// their ratio (target >= 0.5). Before that, the package is read as the 升级
// dialog reads it, and the peak memory of the process is reported against
// the package size (target <= 1.2).
//
//   bench_upgrade [megabytes (default 256)] [rounds (default 5)]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "MaintenanceServer.h"
#include "core/Trace.h"
#include "maintenance/MaintenanceCommands.h"
#include "maintenance/UpgradeChoice.h"
#include "platform/ScriptedPrompt.h"

namespace {

constexpr const char* kAddress = "127.0.2.201";

// A tar package of about megabytes MB, written in pieces (never whole in memory).
std::string writePackage(size_t megabytes) {
    const std::string path = "/tmp/kest-bench-upgrade.tar";
    std::ofstream out(path, std::ios::binary);
    auto header = [&](const char* name, size_t size) {
        char block[512] = {};
        std::strncpy(block, name, 99);
        std::snprintf(block + 124, 12, "%011zo", size);
        block[156] = '0';
        out.write(block, sizeof block);
    };
    const std::string upinfo = "version=V9.9.9\r\nfiletype=1\r\ndate=2026-12-07\r\n";
    header("upinfo.txt", upinfo.size());
    out << upinfo << std::string(512 - upinfo.size(), '\0');
    header("app.bin", megabytes << 20);
    std::vector<char> piece(1 << 20);
    for (size_t mb = 0; mb < megabytes; ++mb) {
        for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 31 + mb);
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
    out << std::string(1024, '\0');
    return path;
}

// The bare client: connect, send everything, read the status.
bool plainUpgrade(const Request& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kUpgradeServerPort);
    inet_pton(AF_INET, kAddress, &addr.sin_addr);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    for (size_t sent = 0; ok && sent < request.size();) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        ok = n > 0;
        sent += ok ? static_cast<size_t>(n) : 0;
    }
    uint8_t status[4];
    ok = ok && ::recv(fd, status, sizeof status, MSG_WAITALL) == 4;
    ::close(fd);
    return ok;
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void report(const char* what, std::vector<double> rates) {
    std::sort(rates.begin(), rates.end());
    std::printf("%-6s MB/s  min %8.1f  median %8.1f  max %8.1f\n", what, rates.front(),
                rates[rates.size() / 2], rates.back());
}

}  // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    setTraceSink([](TraceStream, const std::string&) {});  // the console is not measured

    const std::string path = writePackage(megabytes);
    MaintenanceServerOptions options;
    options.address = kAddress;
    MaintenanceServer device(options);
    if (!device.start()) return 1;
    const long before = peakResidentBytes();

    ScriptedPrompt prompt;
    UpgradeChoice choice(prompt, true);
    auto start = std::chrono::steady_clock::now();
    if (!choice.choose(path)) return 1;
    const double readSeconds = seconds(std::chrono::steady_clock::now() - start);
    const Request& request = choice.request();
    const double packageBytes = static_cast<double>(request.size() - kUpgradeHeaderSize);

    std::vector<double> plain, tool;
    for (int r = 0; r < rounds; ++r) {
        start = std::chrono::steady_clock::now();
        if (!plainUpgrade(request)) return 1;
        plain.push_back(request.size() / 1e6 / seconds(std::chrono::steady_clock::now() - start));

        start = std::chrono::steady_clock::now();
        const CommandResult result = runUpgrade(kAddress, request, [](uint64_t, uint64_t) {});
        if (result.end != ExchangeEnd::Status) return 1;
        tool.push_back(request.size() / 1e6 / seconds(std::chrono::steady_clock::now() - start));
    }
    const long peak = peakResidentBytes();
    device.stop();
    std::remove(path.c_str());

    std::printf("package %.0f MB read in %.2f s\n", packageBytes / 1e6, readSeconds);
    report("plain", plain);
    report("tool", tool);
    std::sort(plain.begin(), plain.end());
    std::sort(tool.begin(), tool.end());
    std::printf("ratio tool/plain (medians) %.2f (target >= 0.5)\n",
                tool[tool.size() / 2] / plain[plain.size() / 2]);
    std::printf("peak memory above start %.1f MB = %.2f x the package (target <= 1.2)\n",
                (peak - before) / 1e6, (peak - before) / packageBytes);
    return 0;
}
