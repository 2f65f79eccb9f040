// Bytes of record files built in memory for tests: the 48-byte file header of
// the device's point data, record headers and whole records.
#pragma once

#include <cstdint>
#include <string>

#include "stream/CollectionFormat.h"

inline std::string recordFileHeaderBytes() {
    std::string bytes(kRecordFileHeaderSize, '\0');
    encodeRecordFileHeader(kPointDataHeaderValues, reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

inline std::string recordHeaderBytes(int64_t time, uint64_t length) {
    std::string bytes(kRecordHeaderSize, '\0');
    encodeRecordHeader(time, length, reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

inline std::string recordBytes(int64_t time, const std::string& data) {
    return recordHeaderBytes(time, data.size()) + data;
}
