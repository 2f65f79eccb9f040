#include "cli/CliOptions.h"

#include <arpa/inet.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>

namespace {

constexpr int kMaxJobs = 256;
constexpr int kMaxTimeoutSeconds = 3600;
constexpr int kMaxRecordSeconds = 7 * 24 * 3600;
constexpr int kMaxWatchSeconds = 7 * 24 * 3600;

const char* const kUsage =
    "usage: kestctl [--device ADDR]... [--devices FILE] [--jobs N] [--json] [--lang en|zh]\n"
    "               [--timeout S] [--send-timeout S] [--verbose] COMMAND [ARGS]\n"
    "\n"
    "Maintenance of passage-monitoring devices without a window.\n"
    "\n"
    "commands:\n"
    "  version                          running version and date\n"
    "  upgrade PACKAGE [--yes]          show upinfo.txt, confirm (or --yes), send, report the "
    "status\n"
    "  reboot                           reboot the device\n"
    "  background                       have the device generate its background picture\n"
    "  set-ip NEW_ADDR                  the device's new address\n"
    "  interface ADDR PORT              address and port of the external interface\n"
    "  record --seconds S [--out DIR]   record the collection stream into DIR/<device>/\n"
    "  watch [--for S]                  print every gate alarm and door state as it comes\n"
    "  swipe forward|reverse|cancel     one card-swipe authorisation\n"
    "  info PATH...                     records, times and sizes of record files (no device)\n"
    "  export-ply PATH [--records A:B] [--out DIR]\n"
    "                                   records as PLY point clouds (no device)\n"
    "\n"
    "options:\n"
    "  --device ADDR    a device (repeat for several)\n"
    "  --devices FILE   devices from a file, one address a line (# starts a comment)\n"
    "  --jobs N         devices handled at once (default 4)\n"
    "  --json           one JSON object a device, one a line\n"
    "  --lang en|zh     language of the messages (default en)\n"
    "  --timeout S      connect and receive time-out in seconds (default 21 and 50);\n"
    "                   a whole answer must arrive within the receive time-out\n"
    "  --send-timeout S an upgrade fails when the device takes less than 1 MB of the\n"
    "                   package in S seconds (default 50; --timeout does not change it)\n"
    "  --verbose        the tool's trace lines on standard error\n"
    "\n"
    "exit codes: 0 success, 2 bad input, 3 device refused, 4 no answer, 5 unexpected answer\n"
    "(2 also when a record file cannot be written)\n"
    "'kestctl COMMAND --help' describes one command.\n";

struct CommandHelp {
    CliCommand command;
    const char* name;
    const char* help;
};

const CommandHelp kCommands[] = {
    {CliCommand::Version, "version",
     "usage: kestctl --device ADDR version\n"
     "Asks the upgrade server (port 18888) for the running version and its date.\n"},
    {CliCommand::Upgrade, "upgrade",
     "usage: kestctl --device ADDR upgrade PACKAGE [--yes]\n"
     "Reads the zip or tar PACKAGE, shows its upinfo.txt and asks for confirmation\n"
     "(--yes confirms without asking), then sends it to the upgrade server (port\n"
     "18888) of every device and reports each device's answer. A package that does\n"
     "not reach a device whole is a failed upgrade (exit 4), whatever the device\n"
     "answers. A device that stops taking the package fails it after --send-timeout\n"
     "(default 50 s), then waits at most the receive time-out for the answer.\n"},
    {CliCommand::Reboot, "reboot",
     "usage: kestctl --device ADDR reboot\nReboots the device (file server, port 18889).\n"},
    {CliCommand::Background, "background",
     "usage: kestctl --device ADDR background\n"
     "Has the device generate its background picture (file server, port 18889).\n"},
    {CliCommand::SetIp, "set-ip",
     "usage: kestctl --device ADDR set-ip NEW_ADDR\n"
     "Gives the device the address NEW_ADDR (file server, port 18889). Reach it at\n"
     "the new address afterwards.\n"},
    {CliCommand::Interface, "interface",
     "usage: kestctl --device ADDR interface ADDR PORT\n"
     "Sets the address and port of the external system that receives the device's\n"
     "data (file server, port 18889). The port is sent as given.\n"},
    {CliCommand::Record, "record",
     "usage: kestctl --device ADDR record --seconds S [--out DIR]\n"
     "Records the device's collection stream (port 58001) for S seconds into\n"
     "DIR/<device address>/PointData<time>.bin files, as the tool's data recorder does.\n"
     "Ends within S seconds plus one receive time-out, whatever the device does. A\n"
     "write that fails (a full disk) stops the recording: the whole records stay, the\n"
     "exit code is 2. Records are counted from the files' record headers.\n"},
    {CliCommand::Watch, "watch",
     "usage: kestctl --device ADDR [--device ADDR]... | --devices FILE watch [--for S]\n"
     "Holds the gate-linkage link (port 12580) of every device, with the library's\n"
     "reconnect and a heartbeat every 5 s, and prints each alarm and door state as it\n"
     "comes: the device, the time (UTC+8) and the alarm panel's words (--lang zh for\n"
     "the Chinese ones), and each link change (connected, lost, back). --json gives one\n"
     "object a line instead: {\"type\":\"event\",...} with the code, the door state and\n"
     "the frame's bytes, {\"type\":\"link\",...}, and at the end {\"type\":\"summary\",...}.\n"
     "Ends on Ctrl-C or after S seconds with a summary per device: events, link losses,\n"
     "time connected. Exit 0 when every device was reached at least once, 4 when one\n"
     "never was, 2 for bad input.\n"},
    {CliCommand::Swipe, "swipe",
     "usage: kestctl --device ADDR swipe forward|reverse|cancel\n"
     "Sends one card-swipe authorisation on the gate-linkage port (12580) and waits\n"
     "for the device's response.\n"},
    {CliCommand::Info, "info",
     "usage: kestctl info PATH...\n"
     "Describes each record file (a folder: each record file in it) without reading\n"
     "its data: the records, the first and last time (UTC+8), the duration, the mean\n"
     "rate, the smallest and largest record, and a torn tail if the file ends in a\n"
     "record cut short. Exit 2 for a path that is not a record file.\n"},
    {CliCommand::ExportPly, "export-ply",
     "usage: kestctl export-ply PATH [--records A:B] [--out DIR]\n"
     "Writes records A to B (numbered from 1 across the files of a folder in name\n"
     "order; A: to the end, :B from the first, N one record; all by default) of the\n"
     "recording at PATH as DIR/record<number>.ply, binary PLY coloured by height and\n"
     "clipped as the tool's 导出点云(PLY), within the standard gate's area (a\n"
     "recording holds no areas). Exit 2 for a path that is not a record file, records\n"
     "that are not there, or a file that cannot be written.\n"},
};

// A whole decimal number within [low, high].
bool parseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && value >= low && value <= high;
}

// "A:B", "A:", ":B" or "N", record numbers from 1.
bool parseRecordRange(const std::string& text, uint64_t& first, uint64_t& last) {
    const size_t colon = text.find(':');
    long a = 1, b = 0;
    const std::string from = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string to = colon == std::string::npos ? text : text.substr(colon + 1);
    if (!from.empty() && !parseNumber(from, 1, LONG_MAX, a)) return false;
    if (!to.empty() && !parseNumber(to, 1, LONG_MAX, b)) return false;
    if (from.empty() && to.empty()) return false;
    if (b != 0 && a > b) return false;
    first = static_cast<uint64_t>(a);
    last = static_cast<uint64_t>(b);
    return true;
}

bool readDevicesFile(const std::string& path, std::vector<std::string>& devices,
                     std::string& message) {
    std::ifstream in(path);
    if (!in) {
        message = "cannot read the devices file " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        const size_t last = line.find_last_not_of(" \t\r");
        const std::string address = line.substr(first, last - first + 1);
        if (!isIpv4Address(address)) {
            message = path + ":" + std::to_string(number) + ": not an IPv4 address: " + address;
            return false;
        }
        devices.push_back(address);
    }
    return true;
}

}  // namespace

bool isIpv4Address(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool commandNeedsNoDevice(CliCommand command) {
    return command == CliCommand::Info || command == CliCommand::ExportPly;
}

const char* commandName(CliCommand command) {
    for (const CommandHelp& c : kCommands)
        if (c.command == command) return c.name;
    return "";
}

ParseOutcome parseCli(int argc, const char* const* argv, CliOptions& options,
                      std::string& message) {
    std::vector<std::string> positional;
    bool wantsHelp = false;
    auto fail = [&](const std::string& text) {
        message = "kestctl: " + text + "\n(see kestctl --help)\n";
        return ParseOutcome::Error;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            wantsHelp = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--for") {
            if (!hasValue || !parseNumber(argv[++i], 1, kMaxWatchSeconds, number))
                return fail("--for takes seconds from 1 to " + std::to_string(kMaxWatchSeconds));
            options.forSeconds = static_cast<int>(number);
        } else if (arg == "--device" || arg == "--devices" || arg == "--jobs" || arg == "--lang" ||
                   arg == "--timeout" || arg == "--send-timeout" || arg == "--seconds" ||
                   arg == "--out" || arg == "--records") {
            if (!hasValue) return fail(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--device") {
                if (!isIpv4Address(value)) return fail("not an IPv4 address: " + value);
                options.devices.push_back(value);
            } else if (arg == "--devices") {
                if (!readDevicesFile(value, options.devices, message)) return fail(message);
            } else if (arg == "--jobs") {
                if (!parseNumber(value, 1, kMaxJobs, number))
                    return fail("--jobs takes a number from 1 to " + std::to_string(kMaxJobs));
                options.jobs = static_cast<int>(number);
            } else if (arg == "--lang") {
                if (value != "en" && value != "zh") return fail("--lang takes en or zh");
                options.chinese = value == "zh";
            } else if (arg == "--timeout") {
                if (!parseNumber(value, 1, kMaxTimeoutSeconds, number))
                    return fail("--timeout takes seconds from 1 to " +
                                std::to_string(kMaxTimeoutSeconds));
                options.timeoutSeconds = static_cast<int>(number);
            } else if (arg == "--send-timeout") {
                if (!parseNumber(value, 1, kMaxTimeoutSeconds, number))
                    return fail("--send-timeout takes seconds from 1 to " +
                                std::to_string(kMaxTimeoutSeconds));
                options.sendTimeoutSeconds = static_cast<int>(number);
            } else if (arg == "--seconds") {
                if (!parseNumber(value, 1, kMaxRecordSeconds, number))
                    return fail("--seconds takes a positive number of seconds");
                options.seconds = static_cast<int>(number);
            } else if (arg == "--records") {
                if (!parseRecordRange(value, options.firstRecord, options.lastRecord))
                    return fail("--records takes A:B, A:, :B or N, record numbers from 1");
            } else {
                options.outDir = value;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }

    const CommandHelp* command = nullptr;
    if (!positional.empty()) {
        for (const CommandHelp& c : kCommands)
            if (positional[0] == c.name) command = &c;
        if (!command) return fail("unknown command " + positional[0]);
        options.command = command->command;
    }
    if (wantsHelp) {
        message = command ? command->help : kUsage;
        return ParseOutcome::Help;
    }
    if (!command) return fail("no command given");

    const std::vector<std::string> args(positional.begin() + 1, positional.end());
    auto expectArgs = [&](size_t n) { return args.size() == n; };
    const std::string name = command->name;
    switch (options.command) {
        case CliCommand::Upgrade:
            if (!expectArgs(1)) return fail("upgrade takes one PACKAGE");
            options.package = args[0];
            break;
        case CliCommand::SetIp:
            if (!expectArgs(1) || !isIpv4Address(args[0]))
                return fail("set-ip takes the device's new IPv4 address");
            options.address = args[0];
            break;
        case CliCommand::Interface: {
            long port = 0;
            if (!expectArgs(2) || !isIpv4Address(args[0]) ||
                !parseNumber(args[1], INT32_MIN, INT32_MAX, port))
                return fail("interface takes an IPv4 address and a port number");
            options.address = args[0];
            options.port = static_cast<int32_t>(port);
            break;
        }
        case CliCommand::Record:
            if (!expectArgs(0) || options.seconds <= 0) return fail("record takes --seconds S");
            break;
        case CliCommand::Swipe:
            if (!expectArgs(1) ||
                (args[0] != "forward" && args[0] != "reverse" && args[0] != "cancel"))
                return fail("swipe takes forward, reverse or cancel");
            options.swipe = args[0];
            break;
        case CliCommand::Info:
            if (args.empty()) return fail("info takes one or more record files or folders");
            options.paths = args;
            break;
        case CliCommand::ExportPly:
            if (!expectArgs(1)) return fail("export-ply takes one record file or folder");
            options.paths = args;
            break;
        default:
            if (!expectArgs(0)) return fail(name + " takes no arguments");
            break;
    }
    if (commandNeedsNoDevice(options.command)) {
        if (!options.devices.empty()) return fail(name + " works on files and takes no device");
        return ParseOutcome::Run;
    }
    if (options.devices.empty()) return fail("no device given (--device ADDR or --devices FILE)");
    return ParseOutcome::Run;
}
