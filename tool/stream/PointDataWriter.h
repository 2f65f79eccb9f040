// The record files of one recorder run: "<folder><device address>/PointData
// <UTC+8 time>.bin", a 48-byte file header and then records, 5001 a file.
// Every record is flushed as soon as it is written, so a record that was
// written survives the tool being closed or killed; a record that cannot be
// written whole is cut off again, so a file never ends in a torn record, and
// a file that is left without a record is removed: no empty or header-only
// files are left behind (the header reaches the disk with the first record).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream/CollectionFormat.h"

class PointDataWriter {
public:
    PointDataWriter();
    // Closes the open file.
    ~PointDataWriter();
    PointDataWriter(const PointDataWriter&) = delete;
    PointDataWriter& operator=(const PointDataWriter&) = delete;

    // baseDir = folder + deviceIp + "/"; no file is opened yet.
    void Init(const std::string& folder, const std::string& deviceIp);
    // Appends one record (time, length, data) and flushes it; opens the first
    // file and every 5002nd record's new file. False when the record was
    // dropped (lastFailure says why); the next record then opens a new file.
    bool Write(const uint8_t* data, size_t length, int64_t time);
    // Closes the open file and opens the next one, named after the current
    // time; a name already on disk gets a "_1", "_2" ... suffix instead of
    // being overwritten. False when no file could be opened.
    bool OpenNewFile();

    std::string baseDir;
    std::string filePath;
    std::FILE* file = nullptr;
    int32_t recordCount = 0;  // records since the file opened, not counting the first
    int32_t stype = -1;       // data type; 14 once the first record arrives
    std::string namePrefix;
    RecordHeaderValues headerValues{};

    // Why the last dropped record was dropped.
    struct Failure {
        std::string path;    // the file that could not be made or written
        std::string reason;  // the system's words for it
    };
    Failure lastFailure() const;
    // Whole records on disk, and files that hold at least one of them, since
    // the writer was made.
    uint64_t recordsWritten() const;
    uint64_t filesWritten() const;

private:
    friend void CloseAllRecordFiles();
    void closeLocked();
    bool openLocked();
    bool writeLocked(const uint8_t* data, size_t length, int64_t time);
    bool writeBytesLocked(const void* bytes, size_t length);
    void dropTornTailLocked();
    void failLocked(const std::string& path, int error);

    // File size after the last whole record (0 while the file holds none):
    // where a failed write is cut back to.
    long long goodSize_ = 0;
    Failure failure_;
    uint64_t recordsWritten_ = 0;
    uint64_t filesWritten_ = 0;
};

// Flushes and closes every open record file of the process and lets no file
// open any more; called right before the process ends. A record that is being
// written is completed first.
void CloseAllRecordFiles();
