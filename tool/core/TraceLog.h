// The trace kept in a rotating log file as well: every line the console
// shows, with the date and time (UTC+8, like the console's own stamps) in
// front. The console output itself is not changed. Each line is flushed as
// it is written, so the log holds everything up to the moment the process
// ends, however it ends.
#pragma once

#include <cstddef>
#include <string>

constexpr const char* kDefaultTraceLogPath = "KestTools.log";
constexpr size_t kTraceLogFileBytes = 10 * 1024 * 1024;
constexpr size_t kTraceLogFilesKept = 5;  // the current file and four older ones

// Starts logging into path ("KestTools.log", then "KestTools.1.log" ... as
// files fill up). False (with a line on standard error) when the file cannot
// be opened; the tool then runs without a log.
bool openTraceLog(const std::string& path, size_t fileBytes = kTraceLogFileBytes,
                  size_t filesKept = kTraceLogFilesKept);
// Stops logging and closes the file.
void closeTraceLog();
