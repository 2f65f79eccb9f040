// Wire format of the device's collection server (TCP 58001) and the layout of
// the record files the data recorder writes from it. Shared by the recorder
// and the simulated device so that there is one definition of each layout.
//
// Request, response and frame header, 40 bytes (little-endian):
//   0 front marker AABB | 4 (0) | 8 command 8002 | 12..27 (0) | 28 end marker CCDD | 32..39 (0)
// Frame = header, 48-byte frame block, psize payload bytes:
//   0..23 (unused) | 24 psize int32 | 28..35 (unused) | 36 presize int32 | 40 time int64
// Record file = 48-byte file header, then records:
//   file header: 0 AABB | 4 v0 | 8 v1 | 12 3 | 16 0 | 20 1 | 24 v2 | 28 v3 | 32..43 (0) | 44 CCDD
//   record:      0 time int64 | 8 data length uint64 | 16 data
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kCollectionPort = 58001;
constexpr size_t kCollectionHeaderSize = 40;
constexpr size_t kCollectionBlockSize = 48;
// The same markers as the stream server's header.
constexpr uint32_t kCollectionFrontMarker = 0xAABB;
constexpr uint32_t kCollectionEndMarker = 0xCCDD;
constexpr int32_t kCollectionRequestCommand = 0x8002;
// The device's frames carry a few hundred kilobytes; a larger psize means the
// stream is out of step, and no buffer is grown for it.
constexpr int32_t kMaxCollectionPayload = 16 * 1024 * 1024;

struct CollectionHeader {
    uint32_t front = kCollectionFrontMarker;
    int32_t command = kCollectionRequestCommand;
    uint32_t end = kCollectionEndMarker;
};

struct CollectionBlock {
    int32_t psize = 0;    // payload bytes after the block; 0 or less: none
    int32_t presize = 0;  // payload bytes that form the record
    int64_t time = 0;     // frame time stamp, stored unchanged in the record
};

void encodeCollectionHeader(const CollectionHeader& header, uint8_t* bytes);
CollectionHeader decodeCollectionHeader(const uint8_t* bytes);
void encodeCollectionBlock(const CollectionBlock& block, uint8_t* bytes);
CollectionBlock decodeCollectionBlock(const uint8_t* bytes);

inline bool collectionMarkersValid(const CollectionHeader& h) {
    return h.front == kCollectionFrontMarker && h.end == kCollectionEndMarker;
}
inline bool collectionPayloadPlausible(int32_t psize) {
    return psize <= kMaxCollectionPayload;
}
// Payload bytes that follow a block: psize, none when it is 0 or less.
inline size_t collectionPayloadSize(const CollectionBlock& b) {
    return b.psize > 0 ? static_cast<size_t>(b.psize) : 0;
}
// Bytes of the payload that form the record: presize, never more than was
// received and never negative.
size_t collectionRecordSize(const CollectionBlock& block);

// Record files.
constexpr size_t kRecordFileHeaderSize = 48;
constexpr size_t kRecordHeaderSize = 16;
// A file holds the record that opened it and this many more.
constexpr int32_t kRecordsAfterFirst = 5000;
using RecordHeaderValues = std::array<int32_t, 4>;
// The values of the device's point data (data type 14).
constexpr RecordHeaderValues kPointDataHeaderValues = {6, 3, 240, 160};

void encodeRecordFileHeader(const RecordHeaderValues& values, uint8_t* bytes);
void encodeRecordHeader(int64_t time, uint64_t length, uint8_t* bytes);
// The 48-byte file header: false when its markers or fixed words are wrong.
bool decodeRecordFileHeader(const uint8_t* bytes, RecordHeaderValues& values);
// The 16-byte record header; the length is the peer's (or the disk's) word,
// not yet checked against anything.
void decodeRecordHeader(const uint8_t* bytes, int64_t& time, uint64_t& length);

// One record file read back whole: used to check what was written. To count
// or locate the records of a file of any size, scan it (RecordFileIndex.h).
struct RecordFileContents {
    RecordHeaderValues values{};
    struct Record {
        int64_t time = 0;
        std::string data;
    };
    std::vector<Record> records;
    // Bytes after the last whole record (a torn tail); 0 for a sound file.
    size_t trailingBytes = 0;
};
// False when the file header is missing or its fixed bytes are wrong.
bool decodeRecordFile(const std::string& bytes, RecordFileContents& out);
