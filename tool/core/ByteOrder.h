// Little-endian reads and writes over byte buffers: every device wire format
// is little-endian with 32-bit integers and IEEE-754 single-precision reals.
#pragma once

#include <cstdint>
#include <cstring>

inline uint32_t readU32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline int32_t readI32le(const uint8_t* p) {
    return static_cast<int32_t>(readU32le(p));
}

inline float readF32le(const uint8_t* p) {
    const uint32_t bits = readU32le(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void writeU32le(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void writeI32le(uint8_t* p, int32_t v) {
    writeU32le(p, static_cast<uint32_t>(v));
}

inline void writeF32le(uint8_t* p, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    writeU32le(p, bits);
}
