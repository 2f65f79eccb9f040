// Process-wide flags shared by the dialogs and the worker threads.
#pragma once

#include <atomic>
#include <cstdint>

// Interface language: true shows the Chinese texts, false the English ones.
// Taken over from the login dialog before the main dialog is created.
extern std::atomic<bool> g_uiChinese;
// Raised by the frame distributor after each frame; the 3D worker takes it back to 0.
extern std::atomic<int32_t> g_pointFrameNew;
// Raised when the main dialog object goes away; long-running workers stop on it.
extern std::atomic<bool> g_appClosing;

// Picks the text of the current interface language.
inline const char* uiText(const char* chinese, const char* english) {
    return g_uiChinese.load() ? chinese : english;
}
