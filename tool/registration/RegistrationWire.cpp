#include "registration/RegistrationWire.h"

#include <algorithm>

#include "core/ByteOrder.h"

namespace {

constexpr size_t kResultMatrixOffset = 4;
constexpr size_t kResultAreasOffset = 68;
constexpr size_t kRectSize = 16;

}  // namespace

std::array<uint8_t, kRegRequestSize> EncodeRegRequest(uint32_t state) {
    std::array<uint8_t, kRegRequestSize> b{};
    writeU32le(b.data(), state);
    return b;
}

uint32_t DecodeRegRequest(const uint8_t* bytes) {
    return readU32le(bytes);
}

std::array<uint8_t, kRegReplySize> EncodeRegReply(uint32_t answer) {
    std::array<uint8_t, kRegReplySize> b{};
    writeU32le(b.data(), answer);
    return b;
}

uint32_t DecodeRegReply(const uint8_t* bytes) {
    return readU32le(bytes);
}

std::array<uint8_t, kRegPointHeaderSize> EncodeRegPointHeader(const RegPointHeader& header) {
    std::array<uint8_t, kRegPointHeaderSize> b{};
    writeU32le(b.data(), header.width);
    writeU32le(b.data() + 4, header.height);
    writeI32le(b.data() + 8, header.length);
    return b;
}

RegPointHeader DecodeRegPointHeader(const uint8_t* bytes) {
    RegPointHeader h;
    h.width = readU32le(bytes);
    h.height = readU32le(bytes + 4);
    h.length = readI32le(bytes + 8);
    return h;
}

bool RegPointHeaderPlausible(const RegPointHeader& header) {
    if (header.length < 0 || header.length > kMaxRegPointBytes) return false;
    if (header.width > kMaxRegPoints || header.height > kMaxRegPoints) return false;
    const uint64_t count = static_cast<uint64_t>(header.width) * header.height;  // no overflow
    return count <= kMaxRegPoints;
}

std::vector<uint8_t> EncodeRegPoints(const std::vector<RegPoint>& points) {
    std::vector<uint8_t> bytes(points.size() * kRegPointSize);
    uint8_t* p = bytes.data();
    for (const RegPoint& pt : points) {
        writeF32le(p, pt.x);
        writeF32le(p + 4, pt.y);
        writeF32le(p + 8, pt.z);
        p += kRegPointSize;
    }
    return bytes;
}

std::vector<RegPoint> DecodeRegPoints(const std::string& bytes, uint32_t width, uint32_t height) {
    const uint64_t count = static_cast<uint64_t>(width) * height;
    if (count > kMaxRegPoints) return {};
    std::vector<RegPoint> points(static_cast<size_t>(count));
    const size_t whole = std::min<size_t>(bytes.size() / kRegPointSize, points.size());
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t i = 0; i < whole; ++i, p += kRegPointSize)
        points[i] = RegPoint{readF32le(p), readF32le(p + 4), readF32le(p + 8)};
    // A trailing part of a point (a short set cut inside one) fills its first
    // coordinates, as a byte copy into the zeroed array would.
    const size_t rest = std::min(bytes.size() - whole * kRegPointSize, kRegPointSize);
    if (whole < points.size() && rest > 0) {
        uint8_t partial[kRegPointSize] = {};
        for (size_t b = 0; b < rest; ++b) partial[b] = p[b];
        points[whole] =
            RegPoint{readF32le(partial), readF32le(partial + 4), readF32le(partial + 8)};
    }
    return points;
}

std::array<uint8_t, kRegResultSize> EncodeRegResult(const RegMatrix* matrix,
                                                    const RegAreaSet& areas) {
    std::array<uint8_t, kRegResultSize> b{};
    writeU32le(b.data(), kRegResultCode);
    if (matrix) {
        for (int i = 0; i < 16; ++i)
            writeF32le(b.data() + kResultMatrixOffset + 4 * i, matrix->m[i / 4][i % 4]);
    }
    for (size_t k = 0; k < areas.size(); ++k) {
        uint8_t* r = b.data() + kResultAreasOffset + kRectSize * k;
        writeF32le(r, areas[k].x0);
        writeF32le(r + 4, areas[k].y0);
        writeF32le(r + 8, areas[k].x1);
        writeF32le(r + 12, areas[k].y1);
    }
    return b;
}

RegResultRecord DecodeRegResult(const uint8_t* bytes) {
    RegResultRecord rec;
    rec.code = readU32le(bytes);
    for (int i = 0; i < 16; ++i)
        rec.matrix.m[i / 4][i % 4] = readF32le(bytes + kResultMatrixOffset + 4 * i);
    for (size_t k = 0; k < rec.areas.size(); ++k) {
        const uint8_t* r = bytes + kResultAreasOffset + kRectSize * k;
        rec.areas[k] = RegRect{readF32le(r), readF32le(r + 4), readF32le(r + 8), readF32le(r + 12)};
    }
    return rec;
}
