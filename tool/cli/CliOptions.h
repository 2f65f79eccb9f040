// The command line of kestctl: global options, one command and its
// arguments. Parsing never touches the network; every mistake gets a clear
// message and exit code 2.
//
//   kestctl [--device ADDR]... [--devices FILE] [--jobs N] [--json] [--lang en|zh]
//           [--timeout S] [--send-timeout S] [--verbose] COMMAND [ARGS]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand {
    None,
    Version,
    Upgrade,
    Reboot,
    Background,
    SetIp,
    Interface,
    Record,
    Watch,
    Swipe,
    Info,
    ExportPly
};

struct CliOptions {
    std::vector<std::string> devices;
    int jobs = 4;
    bool json = false;
    bool chinese = false;
    int timeoutSeconds = 0;      // connect and receive; 0: the device's own time-outs
    int sendTimeoutSeconds = 0;  // a stalled upgrade send; 0: the tool's own (50 s)
    bool verbose = false;        // the tool's trace lines on standard error
    CliCommand command = CliCommand::None;
    // Command arguments.
    std::string package;  // upgrade
    bool yes = false;     // upgrade without asking
    std::string address;  // set-ip, interface
    int32_t port = 0;     // interface
    int seconds = 0;      // record
    int forSeconds = 0;   // watch: 0 watches until Ctrl-C
    std::string outDir = ".";
    std::string swipe;  // forward, reverse or cancel
    // Commands on recordings (no device).
    std::vector<std::string> paths;  // info: record files or folders; export-ply: one
    uint64_t firstRecord = 1;        // export-ply --records A:B, 1-based, inclusive
    uint64_t lastRecord = 0;         // 0: to the last record
};

// True for the commands that work on files and reach no device.
bool commandNeedsNoDevice(CliCommand command);

enum class ParseOutcome { Run, Help, Error };

// Fills options from argv. Help and Error leave the text to print in message
// (help on standard output, errors on standard error with exit code 2).
ParseOutcome parseCli(int argc, const char* const* argv, CliOptions& options, std::string& message);

// True for a dotted IPv4 address of four numbers 0..255.
bool isIpv4Address(const std::string& text);

const char* commandName(CliCommand command);
