#include "maintenance/UpgradePackage.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/LeadingInteger.h"
#include "core/Trace.h"

namespace {

constexpr size_t kTarBlock = 512;
constexpr size_t kTarNameSize = 100;
constexpr size_t kTarSizeOffset = 124;
constexpr size_t kTarSizeLength = 12;
constexpr size_t kTarTypeOffset = 156;
constexpr size_t kMaxZipEntryName = 260;
constexpr const char* kUpinfoName = "upinfo.txt";

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Size of an open file, -1 when it cannot be told.
int64_t fileSize(FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

// Bytes 124..135 as an octal number, leading spaces dropped, up to the first
// character that is no octal digit.
uint64_t tarMemberSize(const uint8_t* header) {
    uint64_t size = 0;
    size_t i = kTarSizeOffset;
    const size_t end = kTarSizeOffset + kTarSizeLength;
    while (i < end && header[i] == ' ') ++i;
    for (; i < end && header[i] >= '0' && header[i] <= '7'; ++i)
        size = size * 8 + (header[i] - '0');
    return size;
}

std::string upToNul(const std::string& bytes) {
    return bytes.substr(0, std::min(bytes.size(), std::strlen(bytes.c_str())));
}

// Value of key: one separator character after the key, up to the next CR,
// spaces removed; empty when the key is not in the text.
std::string keyValue(const std::string& text, const char* key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return std::string();
    const size_t start = at + std::strlen(key) + 1;
    if (start >= text.size()) return std::string();
    const size_t end = text.find('\r', start);
    std::string value =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    value.erase(std::remove(value.begin(), value.end(), ' '), value.end());
    return value;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

PackageKind packageKindOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? path : path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "zip") return PackageKind::Zip;
    if (extension == "tar") return PackageKind::Tar;
    return PackageKind::Unsupported;
}

MemberSearch findTarMember(const std::string& path, const std::string& name, std::string& text) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return MemberSearch::NotFound;
    const int64_t total = fileSize(file.get());
    if (total < 0) return MemberSearch::NotFound;

    uint8_t header[kTarBlock];
    uint64_t position = 0;
    for (;;) {
        const size_t got = std::fread(header, 1, kTarBlock, file.get());
        if (got == 0) return MemberSearch::NotFound;  // the archive ends between members
        if (got < kTarBlock) return MemberSearch::Damaged;
        position += kTarBlock;
        if (std::all_of(header, header + kTarBlock, [](uint8_t b) { return b == 0; }))
            return MemberSearch::NotFound;

        const std::string memberName(reinterpret_cast<const char*>(header),
                                     strnlen(reinterpret_cast<const char*>(header), kTarNameSize));
        const uint64_t size = tarMemberSize(header);
        const uint64_t left = static_cast<uint64_t>(total) - position;
        // A size past the end of the file is a lie or a truncation: stop here
        // rather than read or skip beyond the end.
        if (size > left) return MemberSearch::Damaged;

        const uint8_t type = header[kTarTypeOffset];
        if ((type == '0' || type == 0) && memberName == name) {
            if (size > kMaxUpinfoBytes) return MemberSearch::Damaged;
            std::string bytes(static_cast<size_t>(size), '\0');
            if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
                return MemberSearch::Damaged;
            text = upToNul(bytes);
            return MemberSearch::Found;
        }
        const uint64_t skip =
            std::min<uint64_t>((size + kTarBlock - 1) / kTarBlock * kTarBlock, left);
        if (std::fseek(file.get(), static_cast<long>(skip), SEEK_CUR) != 0)
            return MemberSearch::Damaged;
        position += skip;
    }
}

std::string normaliseZipEntryName(const std::string& raw) {
    std::string name = raw;
    if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        name.erase(0, 2);
    // Everything up to the last ".." part goes with it.
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        const bool startsPart = i == 0 || isSeparator(name[i - 1]);
        const bool endsPart = i + 2 == name.size() || isSeparator(name[i + 2]);
        if (startsPart && endsPart && name[i] == '.' && name[i + 1] == '.') {
            name.erase(0, i + 2);
            i = 0;
            if (name.empty()) break;
        }
    }
    const size_t first = name.find_first_not_of("/\\");
    name.erase(0, first == std::string::npos ? name.size() : first);
    if (name.size() > kMaxZipEntryName) name.resize(kMaxZipEntryName);
    return name;
}

MemberSearch findZipUpinfo(const std::string& path, std::string& text) {
    unzFile zip = unzOpen64(path.c_str());
    if (!zip) return MemberSearch::Damaged;
    struct Closer {
        unzFile zip;
        ~Closer() { unzClose(zip); }
    } closer{zip};

    for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char rawName[1024] = {};
        if (unzGetCurrentFileInfo64(zip, &info, rawName, sizeof rawName - 1, nullptr, 0, nullptr,
                                    0) != UNZ_OK)
            return MemberSearch::Damaged;
        if (normaliseZipEntryName(rawName).find(kUpinfoName) == std::string::npos) continue;

        if (info.uncompressed_size > kMaxUpinfoBytes) return MemberSearch::Damaged;
        std::string bytes(static_cast<size_t>(info.uncompressed_size) + 1, '\0');
        if (unzOpenCurrentFile(zip) != UNZ_OK) return MemberSearch::Damaged;
        size_t got = 0;
        int n = 0;
        // One byte more than the entry claims is asked for, so an entry that
        // inflates to more than its recorded size is noticed.
        while (got < bytes.size() &&
               (n = unzReadCurrentFile(zip, bytes.data() + got,
                                       static_cast<unsigned>(bytes.size() - got))) > 0)
            got += static_cast<size_t>(n);
        const int closed = unzCloseCurrentFile(zip);
        if (n < 0 || closed != UNZ_OK || got != info.uncompressed_size)
            return MemberSearch::Damaged;
        text = upToNul(bytes);
        return MemberSearch::Found;
    }
    return MemberSearch::NotFound;
}

void parseUpinfo(const std::string& text, UpInfo& info) {
    tracef("upinfo.txt  -->%s\n", text.c_str());
    struct NumberKey {
        const char* key;
        int32_t* field;
    };
    // In the order the device's format lists them; each search starts at the
    // beginning of the text.
    setUpInfoText(info.version, keyValue(text, "version"));
    const NumberKey numbers[] = {{"filetype", &info.filetype},
                                 {"ishaveupfile", &info.ishaveupfile},
                                 {"ishaveprofile", &info.ishaveprofile},
                                 {"ishavealgfile", &info.ishavealgfile}};
    for (const NumberKey& item : numbers) *item.field = leadingInteger(keyValue(text, item.key));
    setUpInfoText(info.date, keyValue(text, "date"));
}

PackageRead readPackage(const std::string& path, Request& request, UpInfo& info) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return PackageRead::CannotOpen;
    const int64_t size = fileSize(file.get());
    if (size < 0) return PackageRead::ReadFailed;
    if (size > INT32_MAX) return PackageRead::TooLarge;
    request.assign(kUpgradeHeaderSize + static_cast<size_t>(size), 0);
    if (std::fread(request.data() + kUpgradeHeaderSize, 1, static_cast<size_t>(size), file.get()) !=
        static_cast<size_t>(size)) {
        Request().swap(request);
        return PackageRead::ReadFailed;
    }
    info.filesize = static_cast<int32_t>(size);
    return PackageRead::Ok;
}
