// kestctl's commands on recordings, which need no device: `info` describes
// each record file, `export-ply` writes records as PLY files with the colours
// and clipping of the tool's own export. Their reports take the place of a
// device's (the path instead of the address) and follow the same exit codes:
// 2 for a path that is not a record file or a file that cannot be written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliReport.h"
#include "stream/RecordPlaylist.h"

// What `info` reports of one record file.
struct RecordFileSummary {
    uint64_t records = 0;
    int64_t firstTime = 0;  // ms since 1970, as recorded
    int64_t lastTime = 0;
    uint64_t minBytes = 0;
    uint64_t maxBytes = 0;
    uint64_t tornBytes = 0;
    double seconds() const { return static_cast<double>(lastTime - firstTime) / 1000.0; }
    // Records per second between the first and the last; 0 for fewer than two.
    double meanRate() const;
};

RecordFileSummary summarizeRecords(const RecordPlaylist& playlist,
                                   const RecordPlaylist::File& file);

// One report per record file: a path that is a folder gives one for each
// record file in it; a path that cannot be played gives one report of exit 2.
std::vector<DeviceReport> infoReports(const std::string& path, bool chinese);

// Records first..last (1-based, inclusive; last 0: to the end) of the
// recording at path, one PLY file each, named "record<number>.ply" in outDir.
DeviceReport exportPlyReport(const std::string& path, uint64_t first, uint64_t last,
                             const std::string& outDir, bool chinese);

// The words of a refusal, for the engineer.
std::string refusalText(RecordPlaylist::Refusal refusal, bool chinese);
