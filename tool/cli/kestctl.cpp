// kestctl: the maintenance commands, recording and card swipes of KestTools
// without a window, for scripts and for many devices at once. See
// `kestctl --help`.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "KestSdk/DeviceClientTiming.h"
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "cli/DeviceLines.h"
#include "cli/Progress.h"
#include "cli/RecordingCommands.h"
#include "cli/TextEscape.h"
#include "cli/WatchCommand.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "maintenance/MaintenanceTiming.h"
#include "maintenance/UpgradeChoice.h"
#include "platform/Prompt.h"

namespace {

std::mutex g_outputMutex;

void writeLine(FILE* stream, const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

// The package's questions on the terminal: boxes are printed, the
// confirmation is --yes or a typed "y".
class TerminalPrompt : public Prompt {
public:
    TerminalPrompt(bool yes, size_t devices) : m_yes(yes), m_devices(devices) {}

    int messageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                   PromptIcon) override {
        // The package's own texts, which may hold anything.
        std::fprintf(stderr, "%s:\n%s\n", terminalText(caption).c_str(),
                     terminalLines(text).c_str());
        if (buttons != PromptButtons::OkCancel) return kAnswerOk;
        if (m_yes) return kAnswerOk;
        if (!isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "kestctl: not confirmed (no terminal to ask on; use --yes)\n");
            return kAnswerCancel;
        }
        std::fprintf(stderr, "Send this package to %zu device(s)? [y/N] ", m_devices);
        std::string answer;
        std::getline(std::cin, answer);
        return answer == "y" || answer == "Y" || answer == "yes" ? kAnswerOk : kAnswerCancel;
    }
    std::string openFile(const std::string&, const std::string&) override { return {}; }
    std::string saveFile(const std::string&, const std::string&, const std::string&) override {
        return {};
    }

private:
    bool m_yes;
    size_t m_devices;
};

// Reports the bytes of an upgrade on standard error: a bar on a terminal,
// every tenth percent as a line otherwise.
SendProgress progressReporter(const std::string& device, bool bar) {
    const auto start = std::chrono::steady_clock::now();
    auto lastStep = std::make_shared<int>(-1);
    auto lastDraw = std::make_shared<std::chrono::steady_clock::time_point>();
    return [=](uint64_t sent, uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (bar) {
            if (sent < total && now - *lastDraw < std::chrono::milliseconds(100)) return;
            *lastDraw = now;
            const double elapsed = std::chrono::duration<double>(now - start).count();
            std::lock_guard<std::mutex> lock(g_outputMutex);
            std::fprintf(stderr, "\r%s%s", progressBar(sent, total, elapsed).c_str(),
                         sent == total ? "\n" : "");
            std::fflush(stderr);
            return;
        }
        const int step = percentStep(sent, total);
        if (step == *lastStep) return;
        *lastStep = step;
        writeLine(stderr, device + ": upgrade " + std::to_string(step) + "%");
    };
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    std::string message;
    switch (parseCli(argc, argv, options, message)) {
        case ParseOutcome::Help:
            std::fputs(message.c_str(), stdout);
            return kExitOk;
        case ParseOutcome::Error:
            std::fputs(message.c_str(), stderr);
            return kExitBadInput;
        case ParseOutcome::Run:
            break;
    }

    // Standard output carries the reports only. The tool's trace, and the
    // gate-linkage library's messages, go to standard error with --verbose,
    // each line with its device.
    // Built in static storage and never destroyed: the standard streams
    // flush into it at exit, after main's statics are gone.
    alignas(DeviceLineBuffer) static unsigned char lineStorage[sizeof(DeviceLineBuffer)];
    auto* const libraryLines = new (lineStorage) DeviceLineBuffer(stderr);
    std::cout.rdbuf(options.verbose ? libraryLines : nullptr);
    std::cerr.rdbuf(options.verbose ? libraryLines : nullptr);
    setTraceSink([verbose = options.verbose](TraceStream, const std::string& text) {
        if (!verbose) return;
        const std::string line = deviceLine(text);
        std::fwrite(line.data(), 1, line.size(), stderr);
    });
    if (options.timeoutSeconds > 0) {
        // Connect and receive time-outs of every link (the device's own otherwise).
        const int ms = options.timeoutSeconds * 1000;
        shellTiming().streamReceiveTimeoutMs = ms;
        shellTiming().connectTimeoutMs = ms;
        deviceClientTiming().connectTimeoutMs = ms;
    }
    // A stalled send keeps its own limit: a short answer wait must not cut
    // off a package that the device is slow to take.
    if (options.sendTimeoutSeconds > 0)
        maintenanceTiming().sendStallTimeoutMs = options.sendTimeoutSeconds * 1000;
    if (options.command == CliCommand::Watch)
        return runWatch(options, [](const std::string& line) { writeLine(stdout, line); });

    if (commandNeedsNoDevice(options.command)) {
        std::vector<DeviceReport> reports;
        if (options.command == CliCommand::Info) {
            for (const std::string& path : options.paths)
                for (DeviceReport& r : infoReports(path, options.chinese))
                    reports.push_back(std::move(r));
        } else {
            reports.push_back(exportPlyReport(options.paths.at(0), options.firstRecord,
                                              options.lastRecord, options.outDir, options.chinese));
        }
        int worst = kExitOk;
        for (const DeviceReport& r : reports) {
            writeLine(stdout, reportLine(r, options.json));
            worst = std::max(worst, r.exitCode);
        }
        return worst;
    }

    Request upgradeRequest;
    if (options.command == CliCommand::Upgrade) {
        TerminalPrompt prompt(options.yes, options.devices.size());
        UpgradeChoice choice(prompt, options.chinese);
        if (!choice.choose(options.package)) {
            std::fprintf(stderr, "kestctl: package %s not sent\n", options.package.c_str());
            return kExitBadInput;
        }
        upgradeRequest = choice.takeRequest();
    }

    const bool bar = options.devices.size() == 1 && isatty(STDERR_FILENO);
    std::atomic<size_t> next{0};
    std::atomic<int> worst{kExitOk};
    auto worker = [&] {
        for (size_t i; (i = next++) < options.devices.size();) {
            const std::string& device = options.devices[i];
            setThreadDevice(device);
            const DeviceReport report =
                runOnDevice(options, device, upgradeRequest, progressReporter(device, bar));
            writeLine(stdout, reportLine(report, options.json));
            int seen = worst.load();
            while (report.exitCode > seen && !worst.compare_exchange_weak(seen, report.exitCode)) {
            }
        }
    };
    const size_t threads =
        std::min<size_t>(static_cast<size_t>(options.jobs), options.devices.size());
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
    return worst.load();
}
