#include "core/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Made once and never freed: threads may use it until the process ends.
locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Text up to this size is formatted on the stack: one pass, no allocation.
constexpr size_t kStackText = 256;

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A magnitude past double's range: from_chars leaves the value alone, where
// the C library gives infinity or (below the smallest) zero. long double
// reaches further and rounds the same way into double; past even its range,
// the exponent's sign tells which end it was.
double outOfRange(const char* first, const char* last, std::chars_format format) {
    long double wide = 0;
    if (std::from_chars(first, last, wide, format).ec == std::errc())
        return static_cast<double>(wide);
    const char* mark = std::find_if(first, last, [format](char c) {
        return format == std::chars_format::hex ? (c == 'p' || c == 'P') : (c == 'e' || c == 'E');
    });
    return mark + 1 < last && mark[1] == '-' ? 0.0 : HUGE_VAL;
}

// The number at the start of text, read as the C library reads one in the C
// locale: blanks, a sign, then a decimal number with its exponent, a "0x"
// hexadecimal one, "inf" or "nan"; '.' is the only decimal point whatever the
// locale. end: just past it, or text when there is none (the value is 0).
double readNumber(const char* text, const char*& end) {
    end = text;
    const char* p = text;
    while (isBlank(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if (*p == '+' || *p == '-') return 0.0;  // from_chars would take a second sign
    const char* last = p + std::strlen(p);
    std::chars_format format = std::chars_format::general;
    const char* digits = p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        format = std::chars_format::hex;
        digits = p + 2;
    }
    double value = 0;
    std::from_chars_result read = std::from_chars(digits, last, value, format);
    if (read.ec == std::errc::invalid_argument && format == std::chars_format::hex) {
        read = {p + 1, std::errc()};  // "0x" without hexadecimal digits is the 0 alone
        value = 0;
    }
    if (read.ec == std::errc::invalid_argument) return 0.0;
    if (read.ec == std::errc::result_out_of_range) value = outOfRange(digits, read.ptr, format);
    end = read.ptr;
    return negative ? -value : value;
}

}  // namespace

CLocaleScope::CLocaleScope() {
    // newlocale of "C" fails only without memory; uselocale of a null locale
    // changes nothing and returns the current one, which is put back as is.
    m_previous = uselocale(cLocale());
}

CLocaleScope::~CLocaleScope() {
    uselocale(m_previous);
}

int vsnprintfC(char* buffer, size_t size, const char* format, va_list args) {
    CLocaleScope c;
    return std::vsnprintf(buffer, size, format, args);
}

int snprintfC(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = vsnprintfC(buffer, size, format, args);
    va_end(args);
    return length;
}

std::string formatC(const char* format, ...) {
    CLocaleScope c;
    char text[kStackText];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    std::string result;
    if (needed > 0 && static_cast<size_t>(needed) < sizeof text) {
        result.assign(text, static_cast<size_t>(needed));
    } else if (needed > 0) {
        std::vector<char> longText(static_cast<size_t>(needed) + 1);
        std::vsnprintf(longText.data(), longText.size(), format, args);
        result.assign(longText.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

double leadingNumber(const char* text) {
    if (!text) return 0.0;
    const char* end = nullptr;
    return readNumber(text, end);
}

bool parseNumber(const char* text, double& value) {
    if (!text) return false;
    const char* end = nullptr;
    const double parsed = readNumber(text, end);
    if (end == text || *end != '\0') return false;
    value = parsed;
    return true;
}
