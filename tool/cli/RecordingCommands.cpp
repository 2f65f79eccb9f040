#include "cli/RecordingCommands.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/NumberText.h"
#include "core/Utc8Time.h"
#include "maintenance/MaintenanceMessages.h"
#include "views/PlyExport.h"
#include "views/StandardGateAreas.h"

namespace {

const BilingualText kUnreadable = {"无法读取", "cannot be read"};
const BilingualText kNotRecordFile = {"不是数据文件", "not a record file"};
const BilingualText kNoRecordFiles = {"文件夹中没有数据文件", "no record file in the folder"};
const BilingualText kNoRecords = {"没有完整的记录", "not one whole record"};
const BilingualText kRecords = {"条记录", "records"};
const BilingualText kTo = {"至", "to"};
const BilingualText kPerSecond = {"条/秒", "records/s"};
const BilingualText kBytesARecord = {"字节/条", "bytes a record"};
const BilingualText kTornTail = {"末尾不完整的记录已略去，字节数", "torn tail left out, bytes"};
const BilingualText kNoSuchRecords = {"没有这些记录", "no such records"};
const BilingualText kCannotWrite = {"无法写入", "cannot be written"};
const BilingualText kCannotReadRecord = {"无法读取记录", "cannot read record"};
const BilingualText kPlyWritten = {"个PLY文件已写入", "PLY files written to"};

DeviceReport fileReport(const std::string& path, const std::string& command) {
    DeviceReport report;
    report.subjectKey = "file";
    report.device = path;
    report.command = command;
    return report;
}

DeviceReport refusedReport(const RecordPlaylist& playlist, RecordPlaylist::Refusal refusal,
                           const std::string& command, bool chinese) {
    DeviceReport report = fileReport(playlist.refusedPath(), command);
    report.exitCode = kExitBadInput;
    report.message = refusalText(refusal, chinese);
    return report;
}

}  // namespace

double RecordFileSummary::meanRate() const {
    return records > 1 && lastTime > firstTime ? static_cast<double>(records - 1) / seconds() : 0.0;
}

std::string refusalText(RecordPlaylist::Refusal refusal, bool chinese) {
    switch (refusal) {
        case RecordPlaylist::Refusal::Unreadable:
            return kUnreadable.in(chinese);
        case RecordPlaylist::Refusal::NotRecordFile:
            return kNotRecordFile.in(chinese);
        case RecordPlaylist::Refusal::NoRecordFiles:
            return kNoRecordFiles.in(chinese);
        case RecordPlaylist::Refusal::NoRecords:
            return kNoRecords.in(chinese);
        case RecordPlaylist::Refusal::None:
            break;
    }
    return "";
}

RecordFileSummary summarizeRecords(const RecordPlaylist& playlist,
                                   const RecordPlaylist::File& file) {
    RecordFileSummary summary;
    summary.records = file.index.records;
    summary.tornBytes = file.index.tornBytes();
    for (uint64_t i = 0; i < file.index.records; ++i) {
        const RecordLocation& at = playlist.location(file.firstRecord + i);
        if (i == 0) {
            summary.firstTime = at.time;
            summary.minBytes = summary.maxBytes = at.length;
        }
        summary.lastTime = at.time;
        summary.minBytes = std::min(summary.minBytes, at.length);
        summary.maxBytes = std::max(summary.maxBytes, at.length);
    }
    return summary;
}

std::vector<DeviceReport> infoReports(const std::string& path, bool chinese) {
    RecordPlaylist playlist;
    const RecordPlaylist::Refusal refusal = playlist.open(path);
    // A file of whole headers only is still described: it holds 0 records.
    if (refusal != RecordPlaylist::Refusal::None && refusal != RecordPlaylist::Refusal::NoRecords)
        return {refusedReport(playlist, refusal, "info", chinese)};

    std::vector<DeviceReport> reports;
    for (const RecordPlaylist::File& file : playlist.files()) {
        const RecordFileSummary s = summarizeRecords(playlist, file);
        DeviceReport report = fileReport(file.path, "info");
        report.message = std::to_string(s.records) + " " + kRecords.in(chinese);
        if (s.records > 0) {
            report.message += ", " + streamTimestamp(s.firstTime) + " " + kTo.in(chinese) + " " +
                              streamTimestamp(s.lastTime) + " (" +
                              formatC("%.3f s, %.2f ", s.seconds(), s.meanRate()) +
                              kPerSecond.in(chinese) + "), " + std::to_string(s.minBytes) + ".." +
                              std::to_string(s.maxBytes) + " " + kBytesARecord.in(chinese);
        }
        if (s.tornBytes > 0)
            report.message +=
                ", " + std::string(kTornTail.in(chinese)) + " " + std::to_string(s.tornBytes);
        report.fields = {{"records", std::to_string(s.records)},
                         {"first_time", s.records ? streamTimestamp(s.firstTime) : ""},
                         {"last_time", s.records ? streamTimestamp(s.lastTime) : ""},
                         {"first_ms", std::to_string(s.firstTime)},
                         {"last_ms", std::to_string(s.lastTime)},
                         {"duration_s", formatC("%.3f", s.seconds())},
                         {"mean_rate_hz", formatC("%.3f", s.meanRate())},
                         {"min_bytes", std::to_string(s.minBytes)},
                         {"max_bytes", std::to_string(s.maxBytes)},
                         {"torn_bytes", std::to_string(s.tornBytes)}};
        reports.push_back(std::move(report));
    }
    return reports;
}

DeviceReport exportPlyReport(const std::string& path, uint64_t first, uint64_t last,
                             const std::string& outDir, bool chinese) {
    RecordPlaylist playlist;
    const RecordPlaylist::Refusal refusal = playlist.open(path);
    if (refusal != RecordPlaylist::Refusal::None)
        return refusedReport(playlist, refusal, "export-ply", chinese);
    DeviceReport report = fileReport(path, "export-ply");
    if (last == 0) last = playlist.size();
    if (first < 1 || first > last || last > playlist.size()) {
        report.exitCode = kExitBadInput;
        report.message = std::string(kNoSuchRecords.in(chinese)) + " (" + std::to_string(first) +
                         ":" + std::to_string(last) + ", 1:" + std::to_string(playlist.size()) +
                         ")";
        return report;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    // A recording holds no areas: its records are clipped to the standard gate.
    const AreaBlock areas = standardGateAreas();
    std::string data;
    uint64_t written = 0;
    for (uint64_t n = first; n <= last; ++n) {
        // No record of the device is longer than a collection payload.
        if (!playlist.read(n - 1, data, static_cast<size_t>(kMaxCollectionPayload))) {
            report.exitCode = kExitBadInput;
            report.message = std::string(kCannotReadRecord.in(chinese)) + " " + std::to_string(n);
            break;
        }
        const std::string out = (std::filesystem::path(outDir) /
                                 formatC("record%06llu.ply", static_cast<unsigned long long>(n)))
                                    .string();
        if (WritePlyFile(out, reinterpret_cast<const uint8_t*>(data.data()), data.size(), areas,
                         "KestTools recorded frame") < 0) {
            report.exitCode = kExitBadInput;
            report.message = out + " " + kCannotWrite.in(chinese);
            break;
        }
        ++written;
    }
    if (report.exitCode == kExitOk)
        report.message = std::to_string(written) + " " + kPlyWritten.in(chinese) + " " + outDir;
    report.fields = {{"files", std::to_string(written)},
                     {"first", std::to_string(first)},
                     {"last", std::to_string(last)},
                     {"out", outDir}};
    return report;
}
