// The 212-byte upgrade information record. It travels in both directions on
// the upgrade server: the tool sends it ahead of a package, and the device
// answers a version query with the record of the version it runs.
//
//   offset size field
//        0    4 filesize       int32, bytes of the package file
//        4    4 filetype       int32, value of the key of "upinfo.txt"
//        8    4 ishaveupfile   int32, value of the key
//       12    4 ishaveprofile  int32, value of the key
//       16    4 ishavealgfile  int32, value of the key
//       20   64 filename       "update.tar" for a tar package, zero for a zip
//       84   64 version        NUL-terminated, zero-filled
//      148   64 date           NUL-terminated, zero-filled
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kUpInfoSize = 212;
constexpr size_t kUpInfoTextSize = 64;  // each text field: 63 characters and a NUL

struct UpInfo {
    int32_t filesize = 0;
    int32_t filetype = 0;
    int32_t ishaveupfile = 0;
    int32_t ishaveprofile = 0;
    int32_t ishavealgfile = 0;
    char filename[kUpInfoTextSize] = {};
    char version[kUpInfoTextSize] = {};
    char date[kUpInfoTextSize] = {};
};

using UpInfoBytes = std::array<uint8_t, kUpInfoSize>;

void encodeUpInfo(const UpInfo& info, uint8_t* out);
UpInfoBytes encodeUpInfo(const UpInfo& info);
// Text fields are taken up to their first NUL; one without a NUL is cut at
// 63 characters, so every field of the result is terminated.
UpInfo decodeUpInfo(const uint8_t* bytes);

// Stores text into a 64-byte field: cut at 63 characters, rest zero.
void setUpInfoText(char (&field)[kUpInfoTextSize], const std::string& text);
// A text field up to its first NUL.
std::string upInfoText(const char (&field)[kUpInfoTextSize]);
