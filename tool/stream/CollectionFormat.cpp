#include "stream/CollectionFormat.h"

#include <algorithm>
#include <cstring>

#include "core/ByteOrder.h"
#include "stream/RecordFileIndex.h"

namespace {

// Offsets in the 40-byte header.
constexpr size_t kFrontOffset = 0;
constexpr size_t kCommandOffset = 8;
constexpr size_t kEndOffset = 28;
// Offsets in the 48-byte frame block.
constexpr size_t kPsizeOffset = 24;
constexpr size_t kPresizeOffset = 36;
constexpr size_t kTimeOffset = 40;
// Fixed words of the record file header.
constexpr int32_t kFileWord3 = 3;
constexpr int32_t kFileWord4 = 0;
constexpr int32_t kFileWord5 = 1;

void writeU64le(uint8_t* p, uint64_t v) {
    writeU32le(p, static_cast<uint32_t>(v));
    writeU32le(p + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t readU64le(const uint8_t* p) {
    return static_cast<uint64_t>(readU32le(p)) | (static_cast<uint64_t>(readU32le(p + 4)) << 32);
}

}  // namespace

void encodeCollectionHeader(const CollectionHeader& header, uint8_t* bytes) {
    std::memset(bytes, 0, kCollectionHeaderSize);
    writeU32le(bytes + kFrontOffset, header.front);
    writeI32le(bytes + kCommandOffset, header.command);
    writeU32le(bytes + kEndOffset, header.end);
}

CollectionHeader decodeCollectionHeader(const uint8_t* bytes) {
    CollectionHeader h;
    h.front = readU32le(bytes + kFrontOffset);
    h.command = readI32le(bytes + kCommandOffset);
    h.end = readU32le(bytes + kEndOffset);
    return h;
}

void encodeCollectionBlock(const CollectionBlock& block, uint8_t* bytes) {
    std::memset(bytes, 0, kCollectionBlockSize);
    writeI32le(bytes + kPsizeOffset, block.psize);
    writeI32le(bytes + kPresizeOffset, block.presize);
    writeU64le(bytes + kTimeOffset, static_cast<uint64_t>(block.time));
}

CollectionBlock decodeCollectionBlock(const uint8_t* bytes) {
    CollectionBlock b;
    b.psize = readI32le(bytes + kPsizeOffset);
    b.presize = readI32le(bytes + kPresizeOffset);
    b.time = static_cast<int64_t>(readU64le(bytes + kTimeOffset));
    return b;
}

size_t collectionRecordSize(const CollectionBlock& block) {
    if (block.presize <= 0) return 0;
    return std::min(static_cast<size_t>(block.presize), collectionPayloadSize(block));
}

void encodeRecordFileHeader(const RecordHeaderValues& values, uint8_t* bytes) {
    std::memset(bytes, 0, kRecordFileHeaderSize);
    writeU32le(bytes + 0, kCollectionFrontMarker);
    writeI32le(bytes + 4, values[0]);
    writeI32le(bytes + 8, values[1]);
    writeI32le(bytes + 12, kFileWord3);
    writeI32le(bytes + 16, kFileWord4);
    writeI32le(bytes + 20, kFileWord5);
    writeI32le(bytes + 24, values[2]);
    writeI32le(bytes + 28, values[3]);
    writeU32le(bytes + 44, kCollectionEndMarker);
}

void encodeRecordHeader(int64_t time, uint64_t length, uint8_t* bytes) {
    writeU64le(bytes, static_cast<uint64_t>(time));
    writeU64le(bytes + 8, length);
}

bool decodeRecordFileHeader(const uint8_t* bytes, RecordHeaderValues& values) {
    if (readU32le(bytes) != kCollectionFrontMarker || readU32le(bytes + 44) != kCollectionEndMarker)
        return false;
    if (readI32le(bytes + 12) != kFileWord3 || readI32le(bytes + 16) != kFileWord4 ||
        readI32le(bytes + 20) != kFileWord5)
        return false;
    values = {readI32le(bytes + 4), readI32le(bytes + 8), readI32le(bytes + 24),
              readI32le(bytes + 28)};
    return true;
}

void decodeRecordHeader(const uint8_t* bytes, int64_t& time, uint64_t& length) {
    time = static_cast<int64_t>(readU64le(bytes));
    length = readU64le(bytes + 8);
}

// The same walk over the records as a scan of a file on disk, over bytes in
// memory, keeping a copy of every record.
bool decodeRecordFile(const std::string& text, RecordFileContents& out) {
    out = RecordFileContents{};
    RecordFileIndex index;
    const RecordScan scan = scanRecordBytes(
        text.size(),
        [&text](uint64_t offset, void* to, size_t count) {
            std::memcpy(to, text.data() + offset, count);
            return true;
        },
        index,
        [&text, &out](const RecordLocation& at) {
            RecordFileContents::Record r;
            r.time = at.time;
            r.data.assign(text, static_cast<size_t>(at.offset + kRecordHeaderSize),
                          static_cast<size_t>(at.length));
            out.records.push_back(std::move(r));
        });
    if (scan != RecordScan::Ok) return false;
    out.values = index.values;
    out.trailingBytes = static_cast<size_t>(index.tornBytes());
    return true;
}
