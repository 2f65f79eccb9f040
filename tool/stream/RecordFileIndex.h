// A walk over the records of a record file without reading their data: the
// 48-byte file header, then each 16-byte record header (time, data length),
// then a seek past the data. Memory stays the same whatever the size of the
// file, so it counts a 2 GB file of 5001 frames as cheaply as a small one,
// and each record's place is known for reading it back later.
//
// A record whose header or data runs past the end of the file is a torn tail
// (a write cut short by a kill or a full disk): it is not counted, and its
// bytes are reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "stream/CollectionFormat.h"

// Where one whole record lies in its file.
struct RecordLocation {
    uint64_t offset = 0;  // of its 16-byte record header; the data follows it
    int64_t time = 0;
    uint64_t length = 0;  // data bytes
};

// What a walk over one file found.
struct RecordFileIndex {
    RecordHeaderValues values{};
    uint64_t fileBytes = 0;
    uint64_t records = 0;     // whole records
    uint64_t wholeBytes = 0;  // file header and whole records: where a torn tail starts
    uint64_t tornBytes() const { return fileBytes - wholeBytes; }
};

enum class RecordScan {
    Ok,
    Unreadable,  // the file cannot be opened or read, or is no regular file
    BadHeader,   // shorter than the file header, or its fixed bytes are wrong
};

// Reads count bytes at offset (never past the size given to the walk) into
// to; false when they cannot be read.
using RecordBytesAt = std::function<bool(uint64_t offset, void* to, size_t count)>;
// Called for every whole record, in file order.
using RecordVisitor = std::function<void(const RecordLocation&)>;

// The walk over size bytes that read reaches.
RecordScan scanRecordBytes(uint64_t size, const RecordBytesAt& read, RecordFileIndex& index,
                           const RecordVisitor& each = nullptr);
// The walk over the file at path, as it is when the walk starts.
RecordScan scanRecordFile(const std::string& path, RecordFileIndex& index,
                          const RecordVisitor& each = nullptr);
