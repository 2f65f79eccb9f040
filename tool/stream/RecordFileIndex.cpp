#include "stream/RecordFileIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

RecordScan scanRecordBytes(uint64_t size, const RecordBytesAt& read, RecordFileIndex& index,
                           const RecordVisitor& each) {
    index = RecordFileIndex{};
    index.fileBytes = size;
    uint8_t fileHeader[kRecordFileHeaderSize];
    if (size < kRecordFileHeaderSize) return RecordScan::BadHeader;
    if (!read(0, fileHeader, sizeof fileHeader)) return RecordScan::Unreadable;
    if (!decodeRecordFileHeader(fileHeader, index.values)) return RecordScan::BadHeader;
    uint64_t at = kRecordFileHeaderSize;
    while (size - at >= kRecordHeaderSize) {
        uint8_t header[kRecordHeaderSize];
        if (!read(at, header, sizeof header)) return RecordScan::Unreadable;
        RecordLocation record;
        record.offset = at;
        decodeRecordHeader(header, record.time, record.length);
        // Compared with what is left rather than added to the offset, so that
        // a length near 2^64 cannot wrap around.
        if (record.length > size - at - kRecordHeaderSize) break;
        if (each) each(record);
        ++index.records;
        at += kRecordHeaderSize + record.length;
    }
    index.wholeBytes = at;
    return RecordScan::Ok;
}

RecordScan scanRecordFile(const std::string& path, RecordFileIndex& index,
                          const RecordVisitor& each) {
    index = RecordFileIndex{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return RecordScan::Unreadable;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return RecordScan::Unreadable;
    }
    const auto readAt = [fd](uint64_t offset, void* to, size_t count) {
        auto* bytes = static_cast<uint8_t*>(to);
        while (count > 0) {
            const ssize_t n = ::pread(fd, bytes, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;  // an error, or the file shrank under the walk
            bytes += n;
            offset += static_cast<uint64_t>(n);
            count -= static_cast<size_t>(n);
        }
        return true;
    };
    const RecordScan result =
        scanRecordBytes(static_cast<uint64_t>(info.st_size), readAt, index, each);
    ::close(fd);
    return result;
}
