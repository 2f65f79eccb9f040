// The algorithm server's frames: the input is taken as the byte stream the
// viewer receives after its request, frame header after frame header, each
// followed by the bytes it announces, until a length out of range or the end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "algview/AlgPictureHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (size - at >= kAlgPictureHeaderSize) {
        const uint8_t* wire = data + at;
        const AlgFrameHeader header = decodeAlgFrameHeader(wire);
        at += kAlgPictureHeaderSize;
        const std::array<uint8_t, kAlgPictureHeaderSize> again =
            encodeAlgFrameHeader(header.length);
        for (size_t i = 0; i < again.size(); ++i)
            if (again[i] != wire[i]) std::abort();  // the encoder mirrors the decoder
        const size_t toRead = algFrameBytesToRead(header);
        // The viewer reads at most one picture's worth of scratch at a time and
        // never more than the largest plausible frame.
        if (toRead > static_cast<size_t>(kMaxAlgObjBytes)) std::abort();
        switch (header.kind) {
            case AlgFrameKind::Empty:
                if (header.length > 0 || toRead != 0) std::abort();
                break;
            case AlgFrameKind::Picture:
                if (toRead != static_cast<size_t>(kAlgObjBytes)) std::abort();
                break;
            case AlgFrameKind::WrongSize:
                if (toRead == 0 || toRead == static_cast<size_t>(kAlgObjBytes)) std::abort();
                break;
            case AlgFrameKind::OutOfRange:
                if (header.length <= kMaxAlgObjBytes || toRead != 0) std::abort();
                return 0;  // the viewer leaves the link here
        }
        if (toRead > size - at) return 0;  // the rest of the frame has not come
        at += toRead;
    }
    return 0;
}
