#include "views/PlyExport.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/ByteOrder.h"
#include "views/Cloud3d.h"

namespace {
constexpr size_t kPlyVertexBytes = 15;  // three float32 and three bytes
}  // namespace

long WritePlyFile(const std::string& path, const uint8_t* pointBytes, size_t length,
                  const AreaBlock& areas, const char* comment) {
    // The colours of the 3D view: each point's height within the frame's range.
    std::vector<ColoredPoint> coloured;
    ProcessCloud(pointBytes, length, areas, coloured);
    const CloudClipBox box = CloudClipBoxFor(areas);

    std::vector<uint8_t> body;
    body.reserve(coloured.size() * kPlyVertexBytes);
    for (size_t i = 0; i < coloured.size(); ++i) {
        const uint8_t* p = pointBytes + i * 12;
        const float x = readF32le(p), y = readF32le(p + 4), z = readF32le(p + 8);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !box.contains(x, y))
            continue;
        uint8_t vertex[kPlyVertexBytes];
        writeF32le(vertex, x);
        writeF32le(vertex + 4, y);
        writeF32le(vertex + 8, z);
        vertex[12] = coloured[i].r;
        vertex[13] = coloured[i].g;
        vertex[14] = coloured[i].b;
        body.insert(body.end(), vertex, vertex + kPlyVertexBytes);
    }
    const long count = static_cast<long>(body.size() / kPlyVertexBytes);
    char header[400];
    const int headerLength = std::snprintf(header, sizeof header,
                                           "ply\n"
                                           "format binary_little_endian 1.0\n"
                                           "comment %.80s\n"
                                           "element vertex %ld\n"
                                           "property float x\n"
                                           "property float y\n"
                                           "property float z\n"
                                           "property uchar red\n"
                                           "property uchar green\n"
                                           "property uchar blue\n"
                                           "end_header\n",
                                           comment, count);

    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file(std::fopen(path.c_str(), "wb"));
    if (!file) return -1;
    const bool written = std::fwrite(header, 1, static_cast<size_t>(headerLength), file.get()) ==
                             static_cast<size_t>(headerLength) &&
                         std::fwrite(body.data(), 1, body.size(), file.get()) == body.size();
    // A full disk shows at the close, when the last buffer is written.
    if (std::fclose(file.release()) != 0 || !written) return -1;
    return count;
}
