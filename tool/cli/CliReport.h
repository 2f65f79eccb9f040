// What kestctl says about one device: a line of text (prefixed by the
// device's address) or one JSON object, and the exit code its outcome maps to.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "maintenance/MaintenanceCommands.h"

enum CliExit {
    kExitOk = 0,
    kExitBadInput = 2,    // arguments, a package that cannot be read
    kExitRefused = 3,     // the device answered with its failure status
    kExitNoAnswer = 4,    // unreachable, silent, the request or the answer cut short
    kExitUnexpected = 5,  // an answer the tool does not know
};

struct DeviceReport {
    // What the report is about: a device's address, or a file for the
    // commands on recordings (JSON key "file").
    const char* subjectKey = "device";
    std::string device;
    std::string command;
    int exitCode = kExitOk;
    bool hasStatus = false;
    int32_t status = 0;
    std::string message;
    // Further results of the command (version and date, files written, ...).
    std::vector<std::pair<std::string, std::string>> fields;
};

// The result word of an exit code ("success", "refused", ...).
const char* resultWord(int exitCode);

// "ADDR: message" or {"device":...,"command":...,"result":...,...}.
// Device texts are escaped for the terminal or for JSON (cli/TextEscape.h).
std::string reportLine(const DeviceReport& report, bool json);

// Turns the outcome of a maintenance exchange into a report: boxText is the
// message the window would show for it (nullptr where it shows none).
DeviceReport exchangeReport(const std::string& device, const std::string& command,
                            const CommandResult& result, const char* boxText, bool fileServer,
                            bool chinese);
