#include "views/JetTable.h"

namespace {

constexpr uint8_t u8(int v) {
    return static_cast<uint8_t>(v);
}

constexpr BgrColour jetColour(int i) {
    if (i < 32) return {u8(128 + 4 * i), 0, 0};
    if (i == 32) return {255, 0, 0};
    if (i < 96) return {255, u8(4 * (i - 32)), 0};
    if (i < 159) return {u8(254 - 4 * (i - 96)), 255, u8(2 + 4 * (i - 96))};
    if (i == 159) return {1, 255, 254};
    if (i < 224) return {0, u8(252 - 4 * (i - 160)), 255};
    return {0, 0, u8(252 - 4 * (i - 224))};
}

constexpr std::array<BgrColour, 256> makeJetTable() {
    std::array<BgrColour, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = jetColour(i);
    return table;
}

}  // namespace

const std::array<BgrColour, 256> kJetTable = makeJetTable();
