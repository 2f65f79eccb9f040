#include "stream/StreamRecords.h"

#include "core/ByteOrder.h"

ObjRecord decodeObjRecord(const uint8_t* bytes) {
    ObjRecord r;
    r.index = readI32le(bytes + 0);
    r.kind = readI32le(bytes + 4);
    r.area = readI32le(bytes + 8);
    r.value = readF32le(bytes + 12);
    r.x1 = readF32le(bytes + 16);
    r.y1 = readF32le(bytes + 20);
    r.x2 = readF32le(bytes + 24);
    r.y2 = readF32le(bytes + 28);
    return r;
}

void encodeObjRecord(const ObjRecord& r, uint8_t* bytes) {
    writeI32le(bytes + 0, r.index);
    writeI32le(bytes + 4, r.kind);
    writeI32le(bytes + 8, r.area);
    writeF32le(bytes + 12, r.value);
    writeF32le(bytes + 16, r.x1);
    writeF32le(bytes + 20, r.y1);
    writeF32le(bytes + 24, r.x2);
    writeF32le(bytes + 28, r.y2);
}

AreaBlock decodeAreaBlock(const uint8_t* bytes) {
    AreaBlock areas{};
    for (size_t i = 0; i < areas.size(); ++i) areas[i] = readF32le(bytes + 4 * i);
    return areas;
}

void encodeAreaBlock(const AreaBlock& areas, uint8_t* bytes) {
    for (size_t i = 0; i < areas.size(); ++i) writeF32le(bytes + 4 * i, areas[i]);
}
