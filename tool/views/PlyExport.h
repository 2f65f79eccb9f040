// A live frame saved as a point-cloud file that other software opens: binary
// little-endian PLY with x, y, z as float32 and red, green, blue as bytes,
// coloured by height like the 3D view. Points outside the monitored box and
// points with a coordinate that is not finite are left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stream/StreamRecords.h"

// Writes the whole points of the block (12 bytes each) to path; the number of
// points written, or -1 when the file cannot be written. comment is the
// header's comment line: where the frame came from (one line, no line end).
long WritePlyFile(const std::string& path, const uint8_t* pointBytes, size_t length,
                  const AreaBlock& areas, const char* comment = "KestTools live frame");
