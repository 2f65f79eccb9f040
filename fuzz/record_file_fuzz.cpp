// Record files opened for playing back: the input is a file on disk (in
// memory, through a memfd) opened by the player's reader, which indexes the
// records from their headers and reads each one from the file. Whatever the
// lengths say (past the end, above 2^63, a torn last record, a file of 0
// bytes), the index must agree with the file read back whole, and every
// record read must be exactly its bytes in the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream/CollectionFormat.h"
#include "stream/RecordPlaylist.h"

namespace {

int memoryFile() {
    static const int fd = memfd_create("record_file_fuzz", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memoryFile();
    if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    RecordPlaylist playlist;
    const RecordPlaylist::Refusal refusal = playlist.open(path);
    RecordFileContents whole;
    const bool decoded =
        decodeRecordFile(std::string(reinterpret_cast<const char*>(data), size), whole);
    // Refused as no record file exactly when the header is wrong.
    if (decoded !=
        (refusal == RecordPlaylist::Refusal::None || refusal == RecordPlaylist::Refusal::NoRecords))
        std::abort();
    if (!decoded) return 0;
    if (playlist.size() != whole.records.size()) std::abort();
    if (playlist.tornBytes() != whole.trailingBytes) std::abort();
    std::vector<uint8_t> bytes;
    std::string capped;
    for (size_t i = 0; i < playlist.size(); ++i) {
        const auto& expected = whole.records[i];
        if (playlist.time(i) != expected.time) std::abort();
        if (!playlist.read(i, bytes) || std::string(bytes.begin(), bytes.end()) != expected.data)
            std::abort();
        if (!playlist.read(i, capped, 3) || capped != expected.data.substr(0, 3)) std::abort();
    }
    if (playlist.read(playlist.size(), bytes)) std::abort();
    return 0;
}
