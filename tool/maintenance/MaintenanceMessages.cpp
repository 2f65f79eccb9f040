#include "maintenance/MaintenanceMessages.h"

namespace {

// Box texts for the statuses 0 and -1 of one command.
struct StatusTexts {
    BilingualText ok;
    BilingualText failed;
};

const StatusTexts kUpgradeTexts = {{"升级成功!\n", "update success!\n"},
                                   {"存在相同版本!\n", "have the same version!\n"}};
// The package did not reach the device whole: whatever the device answers
// after that, it was not upgraded with this package.
const BilingualText kUpgradeNotSent = {"升级失败：升级文件未完整发送!\n",
                                       "update fail: the update file was not sent whole!\n"};
const BilingualText kVersionNoConnection = {"链接升级服务器失败!\n",
                                            "connect to update server fail!\n"};
const BilingualText kInitialVersion = {"当前版本为初始版本!\n", "now is the initial version!\n"};

StatusTexts fileCommandTexts(FileCommand command) {
    switch (command) {
        case FileCommand::Reboot:
            return {{"设备重启成功!\n", "device reboot success!\n"},
                    {"设备重启失败!\n", "device reboot fail!\n"}};
        case FileCommand::SetDeviceIp:
            return {{"设备IP设置成功!\n", "device IP set success!\n"},
                    {"设备IP设置失败!\n", "device IP set fail!\n"}};
        case FileCommand::SetInterface:
            return {{"设备接口信息成功!\n", "device inter info success!\n"},
                    {"设备接口信息失败!\n", "device inter info fail!\n"}};
        case FileCommand::GenerateBackground:
            break;
    }
    return {{"设备加载背景图片成功!\n", "divice get backgroud pictrue success!\n"},
            {"设备加载背景图片失败!\n", "divice get backgroud pictrue fail!\n"}};
}

const char* statusText(const StatusTexts& texts, const CommandResult& result, bool chinese) {
    if (result.end != ExchangeEnd::Status) return nullptr;
    // A request that did not go out whole was not carried out as sent.
    if (result.sendFailed) return texts.failed.in(chinese);
    if (result.status == kStatusOk) return texts.ok.in(chinese);
    if (result.status == kStatusFailed) return texts.failed.in(chinese);
    return nullptr;
}

}  // namespace

const BilingualText kNotSupportedText = {"当前版本不支持该功能!\n", "not support!\n"};
const BilingualText kNoInterfaceText = {"当前事件版本无需设置接口信息!\n",
                                        "now event version not set inter info!\n"};

const char* upgradeBoxText(const CommandResult& result, bool chinese) {
    if (result.sendFailed) return kUpgradeNotSent.in(chinese);
    return statusText(kUpgradeTexts, result, chinese);
}

const char* versionBoxText(const CommandResult& result, bool chinese) {
    if (result.end == ExchangeEnd::ConnectFailed) return kVersionNoConnection.in(chinese);
    if (result.end == ExchangeEnd::Status && result.status == kStatusFailed)
        return kInitialVersion.in(chinese);
    return nullptr;
}

const char* fileCommandBoxText(FileCommand command, const CommandResult& result, bool chinese) {
    return statusText(fileCommandTexts(command), result, chinese);
}
