// Upgrade packages built by tests: tar archives byte by byte (so that a lying
// size field or a cut can be put anywhere) and zip archives through minizip.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ArchiveMember {
    std::string name;
    std::string data;
    char type = '0';  // tar type flag
};

// A ustar archive of the members, each padded to 512 bytes, and the two zero
// blocks that end an archive.
std::string makeTar(const std::vector<ArchiveMember>& members);
// Writes a zip archive of the members (deflated) to path; false on failure.
bool writeZip(const std::string& path, const std::vector<ArchiveMember>& members);
