// Upgrade packages and the version record: the first byte chooses what the
// rest is, a tar package, a zip package, an "upinfo.txt" text or a version
// record as the upgrade server sends it. Packages go through a file, as the
// 升级 dialog reads them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Trace.h"
#include "maintenance/UpInfo.h"
#include "maintenance/UpgradePackage.h"

namespace {

std::string packagePath(const char* extension) {
    return "/tmp/kest-fuzz-" + std::to_string(getpid()) + extension;
}

void writeAll(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// Every text field holds at most 63 characters and its NUL.
void checkTerminated(const UpInfo& info) {
    if (strnlen(info.version, kUpInfoTextSize) >= kUpInfoTextSize) std::abort();
    if (strnlen(info.date, kUpInfoTextSize) >= kUpInfoTextSize) std::abort();
    if (strnlen(info.filename, kUpInfoTextSize) >= kUpInfoTextSize) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        setTraceSink([](TraceStream, const std::string&) {});
        return true;
    }();
    (void)quiet;
    if (size == 0) return 0;
    const uint8_t mode = data[0] % 4;
    ++data, --size;

    std::string text;
    UpInfo info;
    switch (mode) {
        case 0: {
            const std::string path = packagePath(".tar");
            writeAll(path, data, size);
            if (findTarMember(path, "upinfo.txt", text) == MemberSearch::Found &&
                text.size() > std::min(size, kMaxUpinfoBytes))
                std::abort();  // never more than the archive holds
            std::remove(path.c_str());
            break;
        }
        case 1: {
            const std::string path = packagePath(".zip");
            writeAll(path, data, size);
            if (findZipUpinfo(path, text) == MemberSearch::Found && text.size() > kMaxUpinfoBytes)
                std::abort();
            std::remove(path.c_str());
            break;
        }
        case 2:
            parseUpinfo(std::string(reinterpret_cast<const char*>(data), size), info);
            checkTerminated(info);
            break;
        default:
            if (size >= kUpInfoSize) checkTerminated(decodeUpInfo(data));
            break;
    }
    return 0;
}
