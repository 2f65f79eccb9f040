// What `kestctl watch` prints: one line (or one JSON object) per push frame of
// a device, per change of its link, and a summary per device at the end.
// The event and door words are the alarm panel's own (gate/AlarmPanel.h), in
// the language of g_uiChinese; times are UTC+8 whatever the machine's zone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class LinkChange {
    Connected,  // the first link to the device
    Lost,       // the link ended (the library reconnects by itself)
    Back,       // a link again after a loss
};

// What one device did while it was watched.
struct WatchTally {
    std::string device;
    uint64_t events = 0;      // push frames printed
    uint64_t linkLosses = 0;  // Lost changes
    int64_t connectedMs = 0;  // time with a link up
    bool reached = false;     // a link came up at least once
};

// "2026-12-08 09:05:07.042": the UTC+8 time as the trace log prints it.
std::string watchTime(int64_t epochMs);

// The panel's words for a push frame's event code (byte 6) and door state
// (byte 12), each with its leading space and without the panel's line end,
// joined; " code 0xNN door 0xNN" when neither code is in the panel's tables.
std::string pushWords(uint8_t code, uint8_t door);

// "7E 00 01 ..." (upper-case, one space between bytes).
std::string frameHex(const std::array<uint8_t, 16>& frame);

// "ADDR: [2026-12-08 09:05:07.042]: weisui", or with json
// {"type":"event","device":...,"time":...,"code":1,"door":255,"text":"weisui","frame":"7E ..."}.
// The words are in the language of g_uiChinese, as on the panel.
std::string eventLine(const std::string& device, int64_t epochMs,
                      const std::array<uint8_t, 16>& frame, bool json);

// "ADDR: [time]: link connected", or {"type":"link","device":...,"time":...,"link":"connected"}.
std::string linkLine(const std::string& device, int64_t epochMs, LinkChange change, bool json,
                     bool chinese);

// "ADDR: 600 events, 1 link loss, connected 59.9 s" (", never reached" when no
// link came up), or
// {"type":"summary","device":...,"events":600,"link_losses":1,"connected_s":59.912,"reached":true}.
std::string summaryLine(const WatchTally& tally, bool json, bool chinese);

// 0 when every device was reached at least once, 4 when one never was.
int watchExitCode(const std::vector<WatchTally>& tallies);
