#include "core/NumberText.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Made once and never freed: threads may use it until the process ends.
locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Text up to this size is formatted on the stack: one pass, no allocation.
constexpr size_t kStackText = 256;

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
    CLocaleScope c;
    return std::strtod(text, nullptr);
}

bool parseNumber(const char* text, double& value) {
    if (!text) return false;
    CLocaleScope c;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0') return false;
    value = parsed;
    return true;
}
