// Progress of an upgrade on the wire: a bar for a terminal (bytes sent, rate,
// time left), plain percentage lines otherwise.
#pragma once

#include <cstdint>
#include <string>

// "[#########-----------]  45%   115.2/256.0 MB   98.3 MB/s   0:01 left"
std::string progressBar(uint64_t sent, uint64_t total, double elapsedSeconds, int width = 30);

// The tens of percent reached: 0, 10, ... 100.
int percentStep(uint64_t sent, uint64_t total);
