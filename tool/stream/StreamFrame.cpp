#include "stream/StreamFrame.h"

#include <cstring>

#include "core/ByteOrder.h"

void encodeStreamHeader(const StreamHeader& h, uint8_t* bytes) {
    writeU32le(bytes + 0, h.fron);
    writeI32le(bytes + 4, h.type);
    writeI32le(bytes + 8, h.datalen);
    writeU32le(bytes + 12, h.reserved);
    writeU32le(bytes + 16, h.end);
}

StreamHeader decodeStreamHeader(const uint8_t* bytes) {
    StreamHeader h;
    h.fron = readU32le(bytes + 0);
    h.type = readI32le(bytes + 4);
    h.datalen = readI32le(bytes + 8);
    h.reserved = readU32le(bytes + 12);
    h.end = readU32le(bytes + 16);
    return h;
}

size_t pointFrameBodySize(size_t pointLen, int objnum) {
    return 4 + pointLen + 4 + static_cast<size_t>(objnum) * kObjRecordSize + kAreaBlockSize;
}

void appendPointFrame(std::vector<uint8_t>& out, const uint8_t* points, size_t pointLen,
                      const ObjRecord* records, int objnum, const AreaBlock& areas) {
    const size_t body = pointFrameBodySize(pointLen, objnum);
    const size_t start = out.size();
    out.resize(start + kStreamHeaderSize + body);
    uint8_t* p = out.data() + start;

    StreamHeader header;
    header.datalen = static_cast<int32_t>(body);
    encodeStreamHeader(header, p);
    p += kStreamHeaderSize;

    writeI32le(p, static_cast<int32_t>(pointLen));
    p += 4;
    if (pointLen > 0) std::memcpy(p, points, pointLen);
    p += pointLen;
    writeI32le(p, objnum);
    p += 4;
    for (int i = 0; i < objnum; ++i, p += kObjRecordSize) encodeObjRecord(records[i], p);
    encodeAreaBlock(areas, p);
}
