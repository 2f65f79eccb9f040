// The number at the start of a text, read the way the device's own tools read
// typed numbers: blanks and a sign first, then decimal digits up to the first
// other character. No digits give 0; values beyond int32 are held at its ends.
#pragma once

#include <cstdint>
#include <string>

int32_t leadingInteger(const std::string& text);
