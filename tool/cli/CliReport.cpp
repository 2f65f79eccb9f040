#include "cli/CliReport.h"

#include <cstdio>

#include "cli/TextEscape.h"
#include "maintenance/MaintenanceMessages.h"
#include "maintenance/MaintenanceProtocol.h"

namespace {

const BilingualText kUpgradeUnreachable = {"链接升级服务器失败",
                                           "cannot connect to the update server"};
const BilingualText kFileUnreachable = {"链接文件服务器失败", "cannot connect to the file server"};
const BilingualText kNoAnswer = {"接收信息失败", "no answer from the device"};
const BilingualText kUnexpected = {"未知状态", "unexpected status"};
const BilingualText kNoCompleteAnswer = {"应答不完整", "no complete answer"};
const BilingualText kPackageNotSent = {"升级文件未完整发送", "update package not sent whole"};
const BilingualText kRequestNotSent = {"指令未完整发送", "request not sent whole"};
const BilingualText kBytesSent = {"字节已发送", "bytes sent"};

// A box text without its line end.
std::string oneLine(const char* text) {
    std::string line = text ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

// "update package not sent whole (1048576 / 52428800 bytes sent)".
std::string notSentText(const std::string& command, const CommandResult& result, bool chinese) {
    const BilingualText& what = command == "upgrade" ? kPackageNotSent : kRequestNotSent;
    return std::string(what.in(chinese)) + " (" + std::to_string(result.bytesSent) + " / " +
           std::to_string(result.bytesTotal) + " " + kBytesSent.in(chinese) + ")";
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

std::string reportLine(const DeviceReport& report, bool json) {
    if (!json) return terminalText(report.device + ": " + report.message);
    std::string line =
        "{\"" + std::string(report.subjectKey) + "\":\"" + jsonEscape(report.device) +
        "\",\"command\":\"" + jsonEscape(report.command) + "\",\"result\":\"" +
        resultWord(report.exitCode) + "\",\"exit\":" + std::to_string(report.exitCode);
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
            report.message =
                result.sendFailed ? notSentText(command, result, chinese) : kNoAnswer.in(chinese);
            return report;
        case ExchangeEnd::Status:
            break;
    }
    report.hasStatus = true;
    report.status = result.status;
    if (result.sendFailed) {
        // Whatever the device answered, it did not get the whole request.
        report.exitCode = kExitNoAnswer;
        report.message = notSentText(command, result, chinese);
        return report;
    }
    if (result.recordCutShort) {
        report.exitCode = kExitNoAnswer;
        report.message = kNoCompleteAnswer.in(chinese);
        return report;
    }
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
