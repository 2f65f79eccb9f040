// A live frame written as a PLY file, read back with a small parser of its
// own: the header, the points kept (inside the monitored box, finite), their
// coordinates and their height colours.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "TempFiles.h"
#include "core/ByteOrder.h"
#include "views/Cloud3d.h"
#include "views/PlyExport.h"

namespace {

struct PlyVertex {
    float x, y, z;
    uint8_t r, g, b;
};

// Reads a binary little-endian PLY of x, y, z float and red, green, blue
// uchar vertices; false when the file is not that.
bool readPly(const std::string& bytes, std::vector<PlyVertex>& out) {
    const size_t end = bytes.find("end_header\n");
    if (bytes.rfind("ply\n", 0) != 0 || end == std::string::npos) return false;
    std::istringstream header(bytes.substr(0, end));
    std::string line;
    long count = -1;
    std::vector<std::string> properties;
    bool binaryLe = false;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "format") {
            std::string format, version;
            words >> format >> version;
            binaryLe = format == "binary_little_endian" && version == "1.0";
        } else if (word == "element") {
            std::string name;
            words >> name >> count;
            if (name != "vertex") return false;
        } else if (word == "property") {
            std::string type, name;
            words >> type >> name;
            properties.push_back(type + " " + name);
        }
    }
    const std::vector<std::string> expected = {"float x",   "float y",     "float z",
                                               "uchar red", "uchar green", "uchar blue"};
    if (!binaryLe || count < 0 || properties != expected) return false;
    const std::string body = bytes.substr(end + std::strlen("end_header\n"));
    if (body.size() != static_cast<size_t>(count) * 15) return false;
    for (long i = 0; i < count; ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(body.data()) + i * 15;
        out.push_back({readF32le(p), readF32le(p + 4), readF32le(p + 8), p[12], p[13], p[14]});
    }
    return true;
}

TEST(PlyExport, KeepsFinitePointsOfTheMonitoredBoxWithTheirHeightColours) {
    AreaBlock areas{};
    areas[0] = -0.5f, areas[1] = -1.0f, areas[2] = 0.5f, areas[3] = 1.0f;  // long along y
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct P {
        float x, y, z;
        bool kept;
    };
    const P points[] = {
        {0.0f, 0.0f, 0.0f, true},  // the floor: the bottom of the range, blue
        {0.2f, 1.3f, 2.0f, true},  // inside the margin along y; the top of the range, red
        {0.1f, -0.3f, 1.0f, true}, {0.6f, 0.0f, 1.0f, false},  // beyond the area across the passage
        {0.0f, 1.5f, 1.0f, false},                             // beyond the margin
        {nan, 0.0f, 1.0f, false},  {0.0f, inf, 1.0f, false},  {0.0f, 0.0f, nan, false},
    };
    std::vector<uint8_t> bytes;
    for (const P& p : points) {
        uint8_t record[12];
        writeF32le(record, p.x);
        writeF32le(record + 4, p.y);
        writeF32le(record + 8, p.z);
        bytes.insert(bytes.end(), record, record + 12);
    }
    bytes.resize(bytes.size() + 5);  // a torn last point is not read

    TempDir dir;
    const std::string path = dir.file("frame.ply");
    ASSERT_EQ(WritePlyFile(path, bytes.data(), bytes.size(), areas), 3);
    std::vector<PlyVertex> read;
    ASSERT_TRUE(readPly(readFile(path), read));
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].x, 0.0f);
    EXPECT_EQ(read[1].y, 1.3f);
    EXPECT_EQ(read[2].z, 1.0f);
    // Colours as the 3D view gives them.
    uint8_t r, g, b;
    HeightColour(0.0f, r, g, b);
    EXPECT_EQ((std::vector<int>{read[0].r, read[0].g, read[0].b}), (std::vector<int>{r, g, b}));
    HeightColour(1.0f, r, g, b);
    EXPECT_EQ((std::vector<int>{read[1].r, read[1].g, read[1].b}), (std::vector<int>{r, g, b}));
    HeightColour(0.5f, r, g, b);
    EXPECT_EQ((std::vector<int>{read[2].r, read[2].g, read[2].b}), (std::vector<int>{r, g, b}));

    EXPECT_EQ(WritePlyFile(dir.file("no-such-folder/frame.ply"), bytes.data(), bytes.size(), areas),
              -1);
}

}  // namespace
