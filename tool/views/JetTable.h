// The 256-colour height scale of the top view and the registration pictures:
// dark blue (0) through cyan, green and yellow (96..159) to dark red (255).
#pragma once

#include <array>
#include <cstdint>

// One colour in blue, green, red byte order, as the pictures store it.
using BgrColour = std::array<uint8_t, 3>;

extern const std::array<BgrColour, 256> kJetTable;
