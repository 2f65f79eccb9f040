#include "maintenance/UpInfo.h"

#include <algorithm>
#include <cstring>

#include "core/ByteOrder.h"

namespace {
constexpr size_t kFilesizeOffset = 0;
constexpr size_t kFiletypeOffset = 4;
constexpr size_t kIshaveupfileOffset = 8;
constexpr size_t kIshaveprofileOffset = 12;
constexpr size_t kIshavealgfileOffset = 16;
constexpr size_t kFilenameOffset = 20;
constexpr size_t kVersionOffset = 84;
constexpr size_t kDateOffset = 148;
static_assert(kDateOffset + kUpInfoTextSize == kUpInfoSize, "UpInfo is 212 bytes");

void copyTextIn(char (&field)[kUpInfoTextSize], const uint8_t* bytes) {
    std::memcpy(field, bytes, kUpInfoTextSize);
    field[kUpInfoTextSize - 1] = '\0';
}
}  // namespace

void encodeUpInfo(const UpInfo& info, uint8_t* out) {
    writeI32le(out + kFilesizeOffset, info.filesize);
    writeI32le(out + kFiletypeOffset, info.filetype);
    writeI32le(out + kIshaveupfileOffset, info.ishaveupfile);
    writeI32le(out + kIshaveprofileOffset, info.ishaveprofile);
    writeI32le(out + kIshavealgfileOffset, info.ishavealgfile);
    std::memcpy(out + kFilenameOffset, info.filename, kUpInfoTextSize);
    std::memcpy(out + kVersionOffset, info.version, kUpInfoTextSize);
    std::memcpy(out + kDateOffset, info.date, kUpInfoTextSize);
}

UpInfoBytes encodeUpInfo(const UpInfo& info) {
    UpInfoBytes bytes{};
    encodeUpInfo(info, bytes.data());
    return bytes;
}

UpInfo decodeUpInfo(const uint8_t* bytes) {
    UpInfo info;
    info.filesize = readI32le(bytes + kFilesizeOffset);
    info.filetype = readI32le(bytes + kFiletypeOffset);
    info.ishaveupfile = readI32le(bytes + kIshaveupfileOffset);
    info.ishaveprofile = readI32le(bytes + kIshaveprofileOffset);
    info.ishavealgfile = readI32le(bytes + kIshavealgfileOffset);
    copyTextIn(info.filename, bytes + kFilenameOffset);
    copyTextIn(info.version, bytes + kVersionOffset);
    copyTextIn(info.date, bytes + kDateOffset);
    return info;
}

void setUpInfoText(char (&field)[kUpInfoTextSize], const std::string& text) {
    std::memset(field, 0, kUpInfoTextSize);
    std::memcpy(field, text.data(), std::min(text.size(), kUpInfoTextSize - 1));
}

std::string upInfoText(const char (&field)[kUpInfoTextSize]) {
    return std::string(field, strnlen(field, kUpInfoTextSize));
}
