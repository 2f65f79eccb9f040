// The settings file that the tool keeps in its working directory: section
// "Baseinfo" with the last device address that logged in (HisIp) and the access
// value of the algorithm object display (AlgShowPasswd). The file is read and
// written as raw bytes so that its line ends stay as they are; the tool never
// creates it and never adds a key to it.
#pragma once

#include <string>

constexpr const char* kSettingsPath = "./KestTools.ini";

// Value of HisIp: "" when the file cannot be opened, "error" when it is empty or
// has no HisIp line after the "Baseinfo" header, else the value (may be empty).
std::string GetHisIp(const std::string& path = kSettingsPath);
// The same for AlgShowPasswd.
std::string GetAlgShowPasswd(const std::string& path = kSettingsPath);
// Replaces every HisIp line after the "Baseinfo" header by "HisIp=<ip>\n" and
// writes the file back. -1 when the file cannot be opened for reading (nothing
// is written) or cannot be written back, else 0.
int SetHisIp(const std::string& ip, const std::string& path = kSettingsPath);
