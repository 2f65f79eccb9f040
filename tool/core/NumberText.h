// Numbers as text, always with '.' as the decimal point whatever the process
// locale. QApplication sets the C library's locale from the environment, and
// under LANG=de_DE.UTF-8 printf's "%.2f" writes "2,80" and the C library reads
// "2.8" as 2. Formatting here runs the C library's own printf under the "C"
// locale for the calling thread only (uselocale), so the text is that of the C
// locale byte for byte and no other thread sees a change; parsing goes through
// std::from_chars, which knows no locale. Integers are not affected by the
// locale (only "%'d" would be), but going through these costs nothing.
#pragma once

#include <locale.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// vsnprintf in the C locale: same return value and truncation.
int vsnprintfC(char* buffer, size_t size, const char* format, va_list args);
// snprintf in the C locale.
int snprintfC(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// printf-style text in the C locale, of any length.
std::string formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The number at the start of text as the C library reads it in the C locale:
// blanks first, then the longest number (sign, digits, '.', exponent, also
// "inf", "nan" and "0x" hexadecimal), ignoring what follows. A ',' ends the number like any other
// character: "2,8" is 2. No number (also a null text) gives 0.
double leadingNumber(const char* text);

// The whole text is one number, read as leadingNumber does (leading blanks
// allowed, nothing after it): true and the value, or false and value
// left alone. "2,8", "" and "2.8x" are refused.
bool parseNumber(const char* text, double& value);

// Switches the calling thread to the C locale for its lifetime, for a library
// call of the C library that formats numbers by itself. Nests; the thread's previous locale comes
// back at the end.
class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t m_previous;  // the thread's locale before
};
