// The registration server's replies: the input is a point-set header, then
// its point bytes, as the registration client receives them, and the same
// bytes taken as a 180-byte result record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "registration/RegistrationWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= kRegResultSize) (void)DecodeRegResult(data);
    if (size < kRegPointHeaderSize) return 0;
    const RegPointHeader header = DecodeRegPointHeader(data);
    // The client allocates only on a header it may act on.
    if (!RegPointHeaderPlausible(header)) return 0;
    if (header.length < 0 || header.length > kMaxRegPointBytes) std::abort();
    if (static_cast<uint64_t>(header.width) * header.height > kMaxRegPoints) std::abort();
    const size_t available = size - kRegPointHeaderSize;
    const std::string bytes(reinterpret_cast<const char*>(data) + kRegPointHeaderSize,
                            std::min(available, static_cast<size_t>(header.length)));
    const std::vector<RegPoint> points = DecodeRegPoints(bytes, header.width, header.height);
    if (points.size() != static_cast<size_t>(header.width) * header.height) std::abort();
    return 0;
}
