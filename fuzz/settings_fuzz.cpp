// The settings file: the input is the whole file. It is read (HisIp,
// AlgShowPasswd), HisIp is rewritten, and the file that comes back must hold
// every byte of the old one, except that lines whose key is HisIp may have
// become "HisIp=<new address>\n"; read again, it gives the new address.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/Settings.h"

namespace {

const std::string kNewIp = "10.20.30.40";
const std::string kReplacement = "HisIp=" + kNewIp + "\n";

// The file's lines as the reader takes them: up to and including '\n', and
// never more than 255 bytes.
std::vector<std::string> pieces(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (char c : text) {
        line.push_back(c);
        if (c == '\n' || line.size() == 255) {
            out.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

// A line whose key (what comes before the first '=', without spaces, CR and
// LF, at most 47 characters) is HisIp.
bool hasHisIpKey(const std::string& line) {
    std::string key;
    for (char c : line) {
        if (c == '=') break;
        if (c != ' ' && c != '\r' && c != '\n' && key.size() < 47) key.push_back(c);
    }
    return key == "HisIp";
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory where the system offers it: the target writes a file per input.
    static const std::string path =
        ((std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                    : std::filesystem::temp_directory_path()) /
         ("kest_settings_fuzz_" + std::to_string(::getpid()) + ".ini"))
            .string();
    const std::string original(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(original.data(), static_cast<std::streamsize>(original.size()));
    }
    const std::string before = GetHisIp(path);
    (void)GetAlgShowPasswd(path);
    if (SetHisIp(kNewIp, path) != 0) std::abort();
    const std::string rewritten = readAll(path);

    // Every piece is there, in order: as it was, or (a HisIp line) replaced.
    // Both may fit at a place ("HisIp=1" at the end of the file is also the
    // start of its replacement), so every way is followed.
    std::set<size_t> reachable = {0};
    for (const std::string& piece : pieces(original)) {
        std::set<size_t> next;
        for (size_t at : reachable) {
            if (rewritten.compare(at, piece.size(), piece) == 0) next.insert(at + piece.size());
            if (hasHisIpKey(piece) && rewritten.compare(at, kReplacement.size(), kReplacement) == 0)
                next.insert(at + kReplacement.size());
        }
        if (next.empty()) std::abort();  // a byte lost, changed or added
        reachable.swap(next);
    }
    if (reachable.count(rewritten.size()) == 0) std::abort();
    // Read again, a HisIp that was there has the new address.
    const std::string after = GetHisIp(path);
    if (before != "error" && after != kNewIp) std::abort();
    if (before == "error" && after != "error" && after != kNewIp) std::abort();
    std::remove(path.c_str());
    return 0;
}
