#include "app/Settings.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A line is read into a 256-byte buffer: at most 255 bytes including its line
// end. A longer line arrives in several pieces, each handled as a line.
constexpr size_t kLineBufferSize = 256;
// Buffers of the key-line parser; longer keys and values are cut to these.
constexpr size_t kMaxKeyChars = 47;
constexpr size_t kMaxValueChars = 127;
constexpr const char* kSectionName = "Baseinfo";

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Reads one line the way fgets does (up to and including '\n', or 255 bytes),
// keeping any NUL bytes in it. false at the end of the file.
bool readLine(FILE* f, std::string& line) {
    line.clear();
    while (line.size() < kLineBufferSize - 1) {
        const int c = std::fgetc(f);
        if (c == EOF) break;
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !line.empty();
}

bool isComment(const std::string& line) {
    return !line.empty() && (line[0] == '#' || line[0] == ' ');
}

bool isSectionHeader(const std::string& line) {
    return !line.empty() && line[0] == '[';
}

// Section name: the header line without its '[', ']', CR and LF characters.
std::string sectionName(const std::string& line) {
    std::string name;
    for (char c : line)
        if (c != '[' && c != ']' && c != '\r' && c != '\n') name.push_back(c);
    return name;
}

// Key and value of a key line: spaces, CR and LF are dropped (tabs stay); the
// key ends at the first '=', further '=' characters are dropped from the value.
void splitKeyLine(const std::string& line, std::string& key, std::string& value) {
    key.clear();
    value.clear();
    bool inValue = false;
    for (char c : line) {
        if (c == ' ' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            inValue = true;
            continue;
        }
        if (!inValue) {
            if (key.size() < kMaxKeyChars) key.push_back(c);
        } else if (value.size() < kMaxValueChars) {
            value.push_back(c);
        }
    }
}

std::string readKey(const std::string& path, const std::string& wanted) {
    std::string result = "error";
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return "";
    bool inSection = false;
    std::string line, key, value;
    while (readLine(f.get(), line)) {
        if (isComment(line)) continue;
        if (isSectionHeader(line)) {
            // Once the section has begun, later headers do not end it.
            if (sectionName(line) == kSectionName) inSection = true;
            continue;
        }
        if (!inSection) continue;
        splitKeyLine(line, key, value);
        if (key == wanted) {
            result = value;
            break;
        }
    }
    return result;
}

}  // namespace

std::string GetHisIp(const std::string& path) {
    return readKey(path, "HisIp");
}

std::string GetAlgShowPasswd(const std::string& path) {
    return readKey(path, "AlgShowPasswd");
}

int SetHisIp(const std::string& ip, const std::string& path) {
    std::string content;
    {
        FilePtr in(std::fopen(path.c_str(), "rb"));
        if (!in) return -1;
        bool inSection = false;
        std::string line, key, value;
        while (readLine(in.get(), line)) {
            if (!isComment(line) && isSectionHeader(line)) {
                if (sectionName(line) == kSectionName) inSection = true;
            } else if (!isComment(line) && inSection) {
                splitKeyLine(line, key, value);
                if (key == "HisIp") {
                    content += "HisIp=" + ip + "\n";
                    continue;
                }
            }
            content += line;
        }
    }
    FilePtr out(std::fopen(path.c_str(), "wb"));
    if (!out) return -1;
    if (!content.empty() &&
        std::fwrite(content.data(), 1, content.size(), out.get()) != content.size())
        return -1;
    if (std::fflush(out.get()) != 0) return -1;
    return 0;
}
