#include "maintenance/MaintenanceCommands.h"

#include <thread>

#include "core/Trace.h"
#include "maintenance/MaintenanceTiming.h"

namespace {

constexpr const char* kUpgradeSendFailed = "发送升级文件失败！\n";
constexpr const char* kVersionReceiveFailed = "接收版本信息失败！\n";
constexpr const char* kFileReceiveFailed = "接收信息失败！\n";

// Console lines of a file-server command after its send (nullptr: none).
struct FileCommandLines {
    const char* sendOk;
    const char* sendFailed;
};

FileCommandLines linesOf(FileCommand command) {
    switch (command) {
        case FileCommand::Reboot:
            return {"发送重启指令成功！\n", "发送重启指令失败！\n"};
        case FileCommand::SetDeviceIp:
            return {nullptr, "发送设置IP指令失败！\n"};
        case FileCommand::SetInterface:
            return {nullptr, "发送设置接口信息指令失败！\n"};
        case FileCommand::GenerateBackground:
            break;
    }
    return {"发送加载背景图片指令成功！\n", "发送加载背景图片指令失败！\n"};
}

void markSendFailed(CommandResult& result, const MaintenanceLink& link, size_t total) {
    result.sendFailed = true;
    result.bytesSent = link.bytesSent();
    result.bytesTotal = total;
}

}  // namespace

CommandResult runUpgrade(const std::string& address, const Request& request,
                         const SendProgress& progress) {
    CommandResult result;
    MaintenanceLink link(kUpgradeServer);
    const bool connected = link.connect(address);
    if (connected) {
        if (link.send(request.data(), request.size(), progress)) {
            tracef("发送升级文件成功！\n");
            std::this_thread::sleep_for(
                MaintenanceTiming::ms(maintenanceTiming().afterUpgradeSendMs));
        } else {
            markSendFailed(result, link, request.size());
            tracef("%s", kUpgradeSendFailed);
        }
    }
    if (!link.receiveStatus(result.status)) {
        tracef("%s", kUpgradeSendFailed);
        result.end = connected ? ExchangeEnd::NoStatus : ExchangeEnd::ConnectFailed;
        return result;
    }
    result.end = ExchangeEnd::Status;
    return result;
}

CommandResult runGetVersion(const std::string& address, UpInfo& running) {
    CommandResult result;
    running = UpInfo{};
    MaintenanceLink link(kUpgradeServer);
    if (!link.connect(address)) return result;

    const Request request = buildCodeRequest(kCmdGetVersion);
    if (link.send(request)) {
        tracef("发送版本信息请求成功！\n");
    } else {
        markSendFailed(result, link, request.size());
        tracef("%s", kUpgradeSendFailed);
    }
    result.end = ExchangeEnd::NoStatus;
    if (!link.receiveStatus(result.status)) {
        tracef("%s", kVersionReceiveFailed);
        return result;
    }
    result.end = ExchangeEnd::Status;
    if (result.status != kStatusOk) return result;

    // A record cut short is shown with what arrived, the rest zero.
    UpInfoBytes record{};
    if (!link.receiveExact(record.data(), record.size())) {
        result.recordCutShort = true;
        tracef("%s", kVersionReceiveFailed);
    }
    running = decodeUpInfo(record.data());
    return result;
}

CommandResult runFileCommand(FileCommand command, const std::string& address,
                             const Request& request) {
    CommandResult result;
    MaintenanceLink link(kFileServer);
    if (!link.connect(address)) return result;

    const FileCommandLines lines = linesOf(command);
    if (link.send(request)) {
        if (lines.sendOk) tracef("%s", lines.sendOk);
    } else {
        markSendFailed(result, link, request.size());
        tracef("%s", lines.sendFailed);
    }
    result.end = ExchangeEnd::NoStatus;
    if (!link.receiveStatus(result.status)) {
        tracef("%s", kFileReceiveFailed);
        return result;
    }
    result.end = ExchangeEnd::Status;
    return result;
}
