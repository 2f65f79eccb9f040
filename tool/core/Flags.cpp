#include "core/Flags.h"

std::atomic<bool> g_uiChinese{true};
std::atomic<int32_t> g_pointFrameNew{0};
std::atomic<bool> g_appClosing{false};
