// Records carried by a point frame of the stream server: detected objects and
// persons, and the rectangles of the monitored and detection areas.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One detected object or person, 32 bytes on the wire.
struct ObjRecord {
    int32_t index = 0;                     // number shown in the readout and on the top view
    int32_t kind = 0;                      // >= 0 person; -1, -3 object; other negatives neither
    int32_t area = 0;                      // detection area number
    float value = 0;                       // person: height (m); object: volume (m^3)
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // opposite corners on the floor, metres
};

constexpr size_t kObjRecordSize = 32;
// Consumers keep at most this many records per frame (320-byte buffers).
constexpr int kMaxObjRecords = 10;

// Seven floor rectangles as (min x, min y, max x, max y): 0 the whole area,
// 1..5 the detection areas, 6 spare. 112 bytes on the wire.
using AreaBlock = std::array<float, 28>;
constexpr size_t kAreaBlockSize = 112;

ObjRecord decodeObjRecord(const uint8_t* bytes);
void encodeObjRecord(const ObjRecord& record, uint8_t* bytes);
AreaBlock decodeAreaBlock(const uint8_t* bytes);
void encodeAreaBlock(const AreaBlock& areas, uint8_t* bytes);
