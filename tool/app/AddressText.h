// Dotted IPv4 address texts of the login dialog.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Reads four decimal numbers separated by dots (each may have leading blanks
// and a sign; trailing text is ignored), each taken modulo 256. false unless
// all four are read.
bool parseDottedQuad(const std::string& text, std::array<uint8_t, 4>& bytes);

// "%d.%d.%d.%d" of the four bytes (at most 15 characters).
std::string formatDottedQuad(const std::array<uint8_t, 4>& bytes);
