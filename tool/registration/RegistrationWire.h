// The registration server's wire format (TCP 38972), little-endian:
//
//   request  client -> server   4 bytes   state uint32 (1 = point data wanted, 0 = poll)
//   reply    server -> client   4 bytes   answer uint32 (0 nothing, 1 a point set follows,
//                                         anything else: nothing follows)
//   sRegPointdata               12 bytes  width uint32 | height uint32 | length int32
//   pdata                       length bytes: points x, y, z float32, row by row
//   result   client -> server   180 bytes code uint32 = 2 | registrationMatrix 16 x float32
//                                         row-major (64 zero bytes when none is stored) |
//                                         7 rectangles x0 y0 x1 y1 float32: gate, areas 1..5,
//                                         reserved (zero)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registration/RegGeometry.h"

constexpr uint16_t kRegistrationPort = 38972;

constexpr size_t kRegRequestSize = 4;
constexpr size_t kRegReplySize = 4;
constexpr size_t kRegPointHeaderSize = 12;
constexpr size_t kRegResultSize = 180;
constexpr size_t kRegPointSize = 12;

constexpr uint32_t kRegStateStop = static_cast<uint32_t>(-1);
constexpr uint32_t kRegAnswerNothing = 0;
constexpr uint32_t kRegAnswerPoints = 1;
constexpr uint32_t kRegResultCode = 2;

// Largest point set taken from a device: 4 Mi points (48 MiB), far above any
// depth camera it carries. Longer sets are refused without allocating.
constexpr uint64_t kMaxRegPoints = 4ULL * 1024 * 1024;
constexpr int32_t kMaxRegPointBytes = static_cast<int32_t>(kMaxRegPoints * kRegPointSize);

struct RegPointHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t length = 0;
};

std::array<uint8_t, kRegRequestSize> EncodeRegRequest(uint32_t state);
uint32_t DecodeRegRequest(const uint8_t* bytes);
std::array<uint8_t, kRegReplySize> EncodeRegReply(uint32_t answer);
uint32_t DecodeRegReply(const uint8_t* bytes);

std::array<uint8_t, kRegPointHeaderSize> EncodeRegPointHeader(const RegPointHeader& header);
RegPointHeader DecodeRegPointHeader(const uint8_t* bytes);
// A header the client may act on: a length from 0 to kMaxRegPointBytes, a
// width x height of at most kMaxRegPoints, and neither the width nor the
// height alone above it (a set of 0 points may not carry a width that no
// picture or count can take). A length that differs from
// width x height x 12 is allowed: a short set leaves zero points, extra bytes
// are not used.
bool RegPointHeaderPlausible(const RegPointHeader& header);

// Points as pdata bytes.
std::vector<uint8_t> EncodeRegPoints(const std::vector<RegPoint>& points);
// width x height points (the header must be plausible), zero where bytes
// holds none; bytes beyond the set are not used.
std::vector<RegPoint> DecodeRegPoints(const std::string& bytes, uint32_t width, uint32_t height);

// The result record; matrix nullptr sends 64 zero bytes in its place.
std::array<uint8_t, kRegResultSize> EncodeRegResult(const RegMatrix* matrix,
                                                    const RegAreaSet& areas);
struct RegResultRecord {
    uint32_t code = 0;
    RegMatrix matrix;
    RegAreaSet areas{};
};
RegResultRecord DecodeRegResult(const uint8_t* bytes);
