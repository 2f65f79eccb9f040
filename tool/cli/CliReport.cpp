#include "cli/CliReport.h"

#include <cstdio>

#include "maintenance/MaintenanceMessages.h"
#include "maintenance/MaintenanceProtocol.h"

namespace {

const BilingualText kUpgradeUnreachable = {"链接升级服务器失败",
                                           "cannot connect to the update server"};
const BilingualText kFileUnreachable = {"链接文件服务器失败", "cannot connect to the file server"};
const BilingualText kNoAnswer = {"接收信息失败", "no answer from the device"};
const BilingualText kUnexpected = {"未知状态", "unexpected status"};

// A box text without its line end.
std::string oneLine(const char* text) {
    std::string line = text ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

const char* resultWord(int exitCode) {
    switch (exitCode) {
        case kExitOk:
            return "success";
        case kExitBadInput:
            return "bad input";
        case kExitRefused:
            return "refused";
        case kExitNoAnswer:
            return "no answer";
        default:
            return "unexpected answer";
    }
}

std::string jsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string reportLine(const DeviceReport& report, bool json) {
    if (!json) return report.device + ": " + report.message;
    std::string line = "{\"device\":\"" + jsonEscape(report.device) + "\",\"command\":\"" +
                       jsonEscape(report.command) + "\",\"result\":\"" +
                       resultWord(report.exitCode) +
                       "\",\"exit\":" + std::to_string(report.exitCode);
    if (report.hasStatus) line += ",\"status\":" + std::to_string(report.status);
    line += ",\"message\":\"" + jsonEscape(report.message) + "\"";
    for (const auto& field : report.fields)
        line += ",\"" + jsonEscape(field.first) + "\":\"" + jsonEscape(field.second) + "\"";
    return line + "}";
}

DeviceReport exchangeReport(const std::string& device, const std::string& command,
                            const CommandResult& result, const char* boxText, bool fileServer,
                            bool chinese) {
    DeviceReport report;
    report.device = device;
    report.command = command;
    switch (result.end) {
        case ExchangeEnd::ConnectFailed:
            report.exitCode = kExitNoAnswer;
            report.message = (fileServer ? kFileUnreachable : kUpgradeUnreachable).in(chinese);
            return report;
        case ExchangeEnd::NoStatus:
            report.exitCode = kExitNoAnswer;
            report.message = kNoAnswer.in(chinese);
            return report;
        case ExchangeEnd::Status:
            break;
    }
    report.hasStatus = true;
    report.status = result.status;
    if (result.status == kStatusOk) {
        report.exitCode = kExitOk;
    } else if (result.status == kStatusFailed) {
        report.exitCode = kExitRefused;
    } else {
        report.exitCode = kExitUnexpected;
        report.message = std::string(kUnexpected.in(chinese)) + " " + std::to_string(result.status);
        return report;
    }
    report.message = oneLine(boxText);
    return report;
}
