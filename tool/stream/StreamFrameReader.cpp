#include "stream/StreamFrameReader.h"

#include "core/ByteOrder.h"
#include "core/Trace.h"
#include "core/Utc8Time.h"
#include "stream/StreamFrame.h"

namespace {

bool readInt32(const ReadExact& read, int32_t& value) {
    uint8_t bytes[4];
    if (!read(bytes, sizeof bytes)) return false;
    value = readI32le(bytes);
    return true;
}

}  // namespace

FrameResult readStreamFrame(const ReadExact& read, StreamReadState& buf) {
    uint8_t headerBytes[kStreamHeaderSize];
    if (!read(headerBytes, sizeof headerBytes)) return FrameResult::Failed;
    const StreamHeader header = decodeStreamHeader(headerBytes);
    tracef("tHead-datalen = %d\n", header.datalen);
    if (!streamMarkersValid(header)) {
        // A single bad header is skipped: the next 20 bytes are taken as the
        // next header.
        tracef("tHead.fron = %0X, Head.end = %0X\n", header.fron, header.end);
        if (++buf.badHeadersInARow >= kMaxBadHeadersInARow) return FrameResult::Failed;
        return FrameResult::Skipped;
    }
    buf.badHeadersInARow = 0;
    if (header.type != kPointFrameType) return FrameResult::Skipped;

    int32_t pointLen = 0;
    if (!readInt32(read, pointLen)) return FrameResult::Failed;
    tracef("pointLen = %d\n", pointLen);
    // A length no device sends means the stream is out of step; never allocate on it.
    if (!pointLenPlausible(pointLen)) return FrameResult::Failed;
    buf.points.resize(static_cast<size_t>(pointLen));
    if (pointLen > 0 && !read(buf.points.data(), pointLen)) return FrameResult::Failed;

    int32_t objnum = 0;
    if (!readInt32(read, objnum)) return FrameResult::Failed;
    tracef("[%s] objnum = %d\n", streamTimestamp(nowEpochMs()).c_str(), objnum);
    if (!objnumPlausible(objnum)) return FrameResult::Failed;
    if (objnum > 0) {
        if (!read(buf.objBytes.data(), objnum * static_cast<int>(kObjRecordSize)))
            return FrameResult::Failed;
        for (int i = 0; i < objnum; ++i) {
            const ObjRecord r = decodeObjRecord(buf.objBytes.data() + i * kObjRecordSize);
            buf.objects[i] = r;
            tracef("[%f %f][%.02f %.02f %.02f %.02f ]\n", static_cast<double>(r.kind),
                   static_cast<double>(r.value), static_cast<double>(r.x1),
                   static_cast<double>(r.x2), static_cast<double>(r.y1), static_cast<double>(r.y2));
        }
    }
    buf.objnum = objnum;

    uint8_t areaBytes[kAreaBlockSize];
    if (!read(areaBytes, sizeof areaBytes)) return FrameResult::Failed;
    buf.areas = decodeAreaBlock(areaBytes);
    return FrameResult::Stored;
}
