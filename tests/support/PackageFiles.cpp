#include "PackageFiles.h"

#include <minizip/zip.h>

#include <cstdio>
#include <cstring>

std::string makeTar(const std::vector<ArchiveMember>& members) {
    std::string archive;
    for (const ArchiveMember& m : members) {
        char header[512] = {};
        std::strncpy(header, m.name.c_str(), 99);
        std::snprintf(header + 100, 8, "%07o", 0644);
        std::snprintf(header + 108, 8, "%07o", 0);
        std::snprintf(header + 116, 8, "%07o", 0);
        std::snprintf(header + 124, 12, "%011o", static_cast<unsigned>(m.data.size()));
        std::snprintf(header + 136, 12, "%011o", 0);
        header[156] = m.type;
        std::memcpy(header + 257, "ustar", 6);
        std::memcpy(header + 263, "00", 2);
        std::memset(header + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : header) sum += c;
        std::snprintf(header + 148, 8, "%06o", sum);
        archive.append(header, sizeof header);
        archive += m.data;
        archive.append((512 - m.data.size() % 512) % 512, '\0');
    }
    archive.append(1024, '\0');
    return archive;
}

bool writeZip(const std::string& path, const std::vector<ArchiveMember>& members) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const ArchiveMember& m : members) {
        zip_fileinfo info{};
        ok = ok &&
             zipOpenNewFileInZip64(zip, m.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0) == ZIP_OK &&
             zipWriteInFileInZip(zip, m.data.data(), static_cast<unsigned>(m.data.size())) ==
                 ZIP_OK &&
             zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}
