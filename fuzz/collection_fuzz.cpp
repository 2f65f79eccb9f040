// The collection server's frames and the record files the recorder writes:
// the input is taken as a frame header and block as they arrive on the
// collection link, and as a record file read back from disk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "stream/CollectionFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= kCollectionHeaderSize + kCollectionBlockSize) {
        const CollectionHeader header = decodeCollectionHeader(data);
        const CollectionBlock block = decodeCollectionBlock(data + kCollectionHeaderSize);
        (void)collectionMarkersValid(header);
        // The recorder reads a payload only when psize is plausible, and never
        // more than it announced.
        if (collectionPayloadPlausible(block.psize) &&
            collectionPayloadSize(block) > static_cast<size_t>(kMaxCollectionPayload))
            std::abort();
    }
    RecordFileContents contents;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (decodeRecordFile(bytes, contents)) {
        size_t total = kRecordFileHeaderSize + contents.trailingBytes;
        for (const auto& record : contents.records) total += kRecordHeaderSize + record.data.size();
        if (total != size) std::abort();  // every byte is a header, a record or the torn tail
    }
    return 0;
}
