#include "cli/CliCommands.h"

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "cli/DeviceLines.h"
#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "core/Timing.h"
#include "gate/GateTiming.h"
#include "gate/SwipeOnce.h"
#include "maintenance/MaintenanceCommands.h"
#include "maintenance/MaintenanceMessages.h"
#include "stream/CollectionFormat.h"
#include "stream/DataRecorder.h"
#include "stream/RecordFileIndex.h"

namespace {

const BilingualText kVersionText = {"版本 ", "version "};
const BilingualText kDateText = {" 日期 ", " date "};
const BilingualText kSwipeAcknowledged = {"刷卡已应答", "swipe acknowledged"};
const BilingualText kGateUnreachable = {"链接闸机联动端口失败",
                                        "cannot connect to the gate-linkage port"};
const BilingualText kSendFailed = {"发送失败", "send failed"};
const BilingualText kNoResponse = {"设备无应答", "no response from the device"};
const BilingualText kRecorded = {"已记录", "recorded"};
const BilingualText kRecords = {"条记录，文件", "records in"};
const BilingualText kFiles = {"个，位于", "files under"};
const BilingualText kNothingRecorded = {"未记录到数据",
                                        "nothing recorded (no data from the device)"};
const BilingualText kWriteFailed = {"写入磁盘失败，已停止记录",
                                    "disk write failed, recording stopped"};
const BilingualText kKept = {"已保存", "kept"};
const BilingualText kTornNotCounted = {"字节的残缺记录未计入",
                                       "bytes of a torn record not counted"};

namespace fs = std::filesystem;

// The record files in folder.
std::set<std::string> recordFiles(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".bin") names.insert(entry.path().string());
    return names;
}

// Records the collection stream for the given seconds, as 打开数据存储 does,
// into out/<device>/; reports the records and the files that hold them. A
// record that cannot be written (a full disk) ends the recording at once and
// the command with exit code 2, the code of local files that cannot be used.
DeviceReport recordReport(const std::string& device, const CliOptions& options) {
    const fs::path folder = fs::path(options.outDir) / device;
    const std::set<std::string> before = recordFiles(folder);
    RecorderControl control;
    control.m_recordRunning = true;
    TcpClient client;
    StopFlag teardown;
    StopFlag finished;  // the recorder stopped on its own
    RecorderOutcome outcome;
    std::string base = options.outDir;
    if (base.empty() || base.back() != '/') base += '/';
    std::thread recorder([&] {
        setThreadDevice(device);  // its trace lines name the device too
        outcome = RunDataRecorder(control, client, device, base, teardown);
        finished.request();
    });
    finished.sleepFor(std::chrono::seconds(options.seconds));
    control.m_recordStop = 1;
    teardown.request();  // also ends a connect loop that never reached the device
    recorder.join();

    // Counted from the record headers on disk, not from what the recorder
    // meant to write; the data is skipped, not read.
    uint64_t records = 0;
    uint64_t files = 0;
    uint64_t tornBytes = 0;
    for (const std::string& name : recordFiles(folder)) {
        if (before.count(name)) continue;
        RecordFileIndex index;
        if (scanRecordFile(name, index) != RecordScan::Ok) continue;
        tornBytes += index.tornBytes();
        if (index.records == 0) continue;
        ++files;
        records += index.records;
    }
    DeviceReport report;
    report.device = device;
    report.command = "record";
    const bool zh = options.chinese;
    const std::string counts = std::to_string(records) + " " + kRecords.in(zh) + " " +
                               std::to_string(files) + " " + kFiles.in(zh) + " " + folder.string();
    report.fields = {{"records", std::to_string(records)},
                     {"files", std::to_string(files)},
                     {"folder", folder.string()}};
    if (tornBytes > 0) report.fields.emplace_back("torn_bytes", std::to_string(tornBytes));
    const std::string torn =
        tornBytes > 0 ? "; " + std::to_string(tornBytes) + " " + kTornNotCounted.in(zh) : "";
    if (!outcome.stoppedByRequest) {
        const std::string error = outcome.failedPath + " (" + outcome.reason + ")";
        report.exitCode = kExitBadInput;
        report.message = std::string(kWriteFailed.in(zh)) + ": " + error + "; " + kKept.in(zh) +
                         " " + counts + torn;
        report.fields.emplace_back("error", error);
        return report;
    }
    if (records == 0) {
        report.exitCode = kExitNoAnswer;
        report.message = kNothingRecorded.in(zh);
        report.fields.clear();
        return report;
    }
    report.message = std::string(kRecorded.in(zh)) + " " + counts + torn;
    return report;
}

DeviceReport versionReport(const std::string& device, const CliOptions& options) {
    UpInfo running;
    const CommandResult result = runGetVersion(device, running);
    DeviceReport report = exchangeReport(
        device, "version", result, versionBoxText(result, options.chinese), false, options.chinese);
    // A record cut short shows nothing of it: what arrived may be any part.
    if (result.end != ExchangeEnd::Status || result.recordCutShort) return report;
    if (result.status == kStatusFailed) {
        // The device runs the version it left the factory with: an answer, no refusal.
        report.exitCode = kExitOk;
    } else if (result.status == kStatusOk) {
        const std::string version = upInfoText(running.version);
        const std::string date = upInfoText(running.date);
        report.message = std::string(kVersionText.in(options.chinese)) + version +
                         kDateText.in(options.chinese) + date;
        report.fields = {{"version", version}, {"date", date}};
    }
    return report;
}

DeviceReport fileReport(const std::string& device, const char* command, FileCommand which,
                        const Request& request, bool chinese) {
    const CommandResult result = runFileCommand(which, device, request);
    return exchangeReport(device, command, result, fileCommandBoxText(which, result, chinese), true,
                          chinese);
}

DeviceReport swipeReport(const std::string& device, const CliOptions& options) {
    const SwipeKind kind = options.swipe == "forward"   ? SwipeKind::Forward
                           : options.swipe == "reverse" ? SwipeKind::Reverse
                                                        : SwipeKind::Cancel;
    const int timeoutMs = shellTiming().streamReceiveTimeoutMs.load();
    const SwipeResult result = swipeOnce(device, kind, timeoutMs, kGatePortAlarm);
    DeviceReport report;
    report.device = device;
    report.command = "swipe";
    switch (result.end) {
        case SwipeEnd::Responded: {
            report.message =
                std::string(kSwipeAcknowledged.in(options.chinese)) + " (" + options.swipe + ")";
            std::string hex;
            for (uint8_t b : result.response) {
                static const char digits[] = "0123456789ABCDEF";
                if (!hex.empty()) hex += ' ';
                hex += digits[b >> 4];
                hex += digits[b & 15];
            }
            report.fields = {{"response", hex}};
            break;
        }
        case SwipeEnd::ConnectFailed:
            report.exitCode = kExitNoAnswer;
            report.message = kGateUnreachable.in(options.chinese);
            break;
        case SwipeEnd::SendFailed:
            report.exitCode = kExitNoAnswer;
            report.message = kSendFailed.in(options.chinese);
            break;
        case SwipeEnd::NoResponse:
            report.exitCode = kExitNoAnswer;
            report.message = kNoResponse.in(options.chinese);
            break;
    }
    return report;
}

}  // namespace

DeviceReport runOnDevice(const CliOptions& options, const std::string& device,
                         const Request& upgradeRequest, const SendProgress& progress) {
    const bool zh = options.chinese;
    switch (options.command) {
        case CliCommand::Version:
            return versionReport(device, options);
        case CliCommand::Upgrade: {
            const CommandResult result = runUpgrade(device, upgradeRequest, progress);
            return exchangeReport(device, "upgrade", result, upgradeBoxText(result, zh), false, zh);
        }
        case CliCommand::Reboot:
            return fileReport(device, "reboot", FileCommand::Reboot, buildCodeRequest(kCmdReboot),
                              zh);
        case CliCommand::Background:
            return fileReport(device, "background", FileCommand::GenerateBackground,
                              buildCodeRequest(kCmdGenerateBackground), zh);
        case CliCommand::SetIp:
            return fileReport(device, "set-ip", FileCommand::SetDeviceIp,
                              buildSetDeviceIpRequest(options.address), zh);
        case CliCommand::Interface:
            return fileReport(device, "interface", FileCommand::SetInterface,
                              buildSetInterfaceRequest(options.address, options.port), zh);
        case CliCommand::Swipe:
            return swipeReport(device, options);
        case CliCommand::Record:
            return recordReport(device, options);
        case CliCommand::Info:  // on files, run without a device
        case CliCommand::ExportPly:
        case CliCommand::Watch:  // runs on all devices at once (cli/WatchCommand.h)
        case CliCommand::None:
            break;
    }
    DeviceReport report;
    report.device = device;
    report.exitCode = kExitBadInput;
    report.message = "no command";
    return report;
}
