#include "stream/PointDataWriter.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#include "core/Trace.h"
#include "core/Utc8Time.h"

namespace {

constexpr int32_t kPointDataType = 14;
constexpr const char* kPointDataPrefix = "PointData";
constexpr const char* kRecordExtension = ".bin";
// Names tried for one second before giving up: PointData<time>_1 ... _99.
constexpr int kMaxNameSuffix = 99;

// Every record file operation of the process, and the list of writers that
// CloseAllRecordFiles reaches. Only the recorder writes, so it is never contended.
std::mutex g_recordFilesMutex;
std::set<PointDataWriter*> g_writers;
bool g_recordFilesClosed = false;

std::string timeText() {
    const Utc8Time t = utc8FromEpochMs(nowEpochMs());
    char text[64] = {};
    std::snprintf(text, sizeof text, "%4d-%02d-%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

// Creates the folder (and its parents) when it does not exist yet.
void makeFolder(const std::string& dir) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return;
    std::filesystem::create_directories(dir, ec);
    if (ec) tracef("创建目录失败：%s (%s)\n", dir.c_str(), ec.message().c_str());
}

}  // namespace

PointDataWriter::PointDataWriter() {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    g_writers.insert(this);
}

PointDataWriter::~PointDataWriter() {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    closeLocked();
    g_writers.erase(this);
}

void PointDataWriter::Init(const std::string& folder, const std::string& deviceIp) {
    baseDir = folder + deviceIp + "/";
    recordCount = 0;
    stype = -1;
}

bool PointDataWriter::Write(const uint8_t* data, size_t length, int64_t time) {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    return writeLocked(data, length, time);
}

bool PointDataWriter::OpenNewFile() {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    return openLocked();
}

PointDataWriter::Failure PointDataWriter::lastFailure() const {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    return failure_;
}

uint64_t PointDataWriter::recordsWritten() const {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    return recordsWritten_;
}

uint64_t PointDataWriter::filesWritten() const {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    return filesWritten_;
}

bool PointDataWriter::writeLocked(const uint8_t* data, size_t length, int64_t time) {
    tracef("------------stype = %d\n", kPointDataType);
    if (stype == -1) {
        stype = kPointDataType;
        namePrefix = kPointDataPrefix;
        headerValues = kPointDataHeaderValues;
    }
    ++recordCount;
    const bool newFile = recordCount > kRecordsAfterFirst || !file;
    if (newFile) {
        if (!openLocked() && !openLocked()) return false;  // dropped; the next record tries again
        // The header goes out with the first record, in one flush: a file on
        // disk holds a record or nothing.
        uint8_t header[kRecordFileHeaderSize];
        encodeRecordFileHeader(headerValues, header);
        if (!writeBytesLocked(header, sizeof header)) {
            dropTornTailLocked();
            return false;
        }
    }
    uint8_t recordHeader[kRecordHeaderSize];
    encodeRecordHeader(time, length, recordHeader);
    if (!writeBytesLocked(recordHeader, sizeof recordHeader) || !writeBytesLocked(data, length) ||
        std::fflush(file) != 0) {
        dropTornTailLocked();
        return false;
    }
    if (newFile) {
        goodSize_ = static_cast<long long>(kRecordFileHeaderSize);
        ++filesWritten_;
    }
    goodSize_ += static_cast<long long>(kRecordHeaderSize + length);
    ++recordsWritten_;
    return true;
}

bool PointDataWriter::writeBytesLocked(const void* bytes, size_t length) {
    return length == 0 || std::fwrite(bytes, 1, length, file) == length;
}

void PointDataWriter::failLocked(const std::string& path, int error) {
    failure_.path = path;
    failure_.reason = error != 0 ? std::strerror(error) : "short write";
}

// A write failed (disk full, file too large, device gone): whatever part of
// the record reached the file is cut off and the file is closed, so it keeps
// only whole records; a file left without a record is removed. The next
// record opens a new file. The caller says what happened: nothing is traced
// here, so that one failure gives one line.
void PointDataWriter::dropTornTailLocked() {
    failLocked(filePath, errno);
    __fpurge(file);  // the unwritten rest must not reach the file at close
    if (::ftruncate(fileno(file), static_cast<off_t>(goodSize_)) != 0)
        failure_.reason += std::string("; ftruncate: ") + std::strerror(errno);
    closeLocked();
    recordCount = 0;
}

// A file that holds no record (only opened, or cut back to nothing) is
// removed rather than left behind empty.
void PointDataWriter::closeLocked() {
    if (!file) return;
    std::fclose(file);  // every record was flushed already
    file = nullptr;
    if (goodSize_ == 0 && std::remove(filePath.c_str()) != 0)
        tracef("remove %s: %s\n", filePath.c_str(), std::strerror(errno));
}

bool PointDataWriter::openLocked() {
    closeLocked();
    recordCount = 0;
    goodSize_ = 0;
    if (g_recordFilesClosed) return false;  // the process is ending
    const std::string stem = baseDir + namePrefix + timeText();
    makeFolder(baseDir);
    // "x": never empty a file that is already there (one opened earlier in the
    // same second, or left by another run); take the next free suffix instead.
    for (int suffix = 0; suffix <= kMaxNameSuffix; ++suffix) {
        filePath = stem + (suffix > 0 ? "_" + std::to_string(suffix) : "") + kRecordExtension;
        file = std::fopen(filePath.c_str(), "wbx");
        if (file || errno != EEXIST) break;
    }
    if (!file) {
        failLocked(filePath, errno);
        tracef("[%s] is not a use path!!!\n", filePath.c_str());
        return false;
    }
    tracef("创建文件：%s成功\n", filePath.c_str());
    return true;
}

void CloseAllRecordFiles() {
    std::lock_guard<std::mutex> lock(g_recordFilesMutex);
    g_recordFilesClosed = true;
    for (PointDataWriter* writer : g_writers) writer->closeLocked();
}
