#include "app/AddressText.h"

#include <cctype>
#include <cstdio>

namespace {

// One number at pos: blanks, an optional sign, at least one digit. The value
// is kept modulo 256 while reading, so no length of digits can overflow.
bool readNumber(const std::string& text, size_t& pos, uint8_t& byte) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t digitsStart = pos;
    unsigned value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        value = (value * 10 + static_cast<unsigned>(text[pos] - '0')) % 256;
        ++pos;
    }
    if (pos == digitsStart) return false;
    byte = static_cast<uint8_t>(negative ? (256 - value) % 256 : value);
    return true;
}

}  // namespace

bool parseDottedQuad(const std::string& text, std::array<uint8_t, 4>& bytes) {
    std::array<uint8_t, 4> parsed{};
    size_t pos = 0;
    for (size_t i = 0; i < parsed.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        if (!readNumber(text, pos, parsed[i])) return false;
    }
    bytes = parsed;
    return true;
}

std::string formatDottedQuad(const std::array<uint8_t, 4>& bytes) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}
