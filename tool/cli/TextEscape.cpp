#include "cli/TextEscape.h"

#include <cstdint>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence that starts at text[i] (1 to 4), or 0
// when the byte there starts none: stray continuation bytes, overlong forms,
// surrogates, code points above U+10FFFF and cut-off sequences.
size_t utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    uint8_t low = 0x80;  // allowed range of the second byte
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

// U+0080..U+009F, written in UTF-8 as C2 80..C2 9F: terminals obey them too.
bool isC1(const std::string& text, size_t i, size_t length) {
    return length == 2 && static_cast<uint8_t>(text[i]) == 0xC2 &&
           static_cast<uint8_t>(text[i + 1]) <= 0x9F;
}

std::string hexEscape(const char* format, unsigned value) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, format, value);
    return escaped;
}

}  // namespace

std::string jsonEscape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = utf8Length(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (isC1(text, i, length)) {
            out += hexEscape("\\u%04x", static_cast<uint8_t>(text[i + 1]));
        } else if (length > 1) {
            out.append(text, i, length);
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            out += hexEscape("\\u%04x", c);
        } else {
            out += static_cast<char>(c);
        }
        i += length;
    }
    return out;
}

std::string terminalText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = utf8Length(text, i);
        if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7f))) {
            out += hexEscape("\\x%02x", c);
            ++i;
            continue;
        }
        if (isC1(text, i, length))
            out += hexEscape("\\u%04x", static_cast<uint8_t>(text[i + 1]));
        else
            out.append(text, i, length);
        i += length;
    }
    return out;
}

std::string terminalLines(const std::string& text) {
    std::string out;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (end != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        out += terminalText(line);
        if (end == std::string::npos) return out;
        out += '\n';
        start = end + 1;
    }
}
