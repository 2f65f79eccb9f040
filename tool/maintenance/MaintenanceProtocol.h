// The maintenance command protocol of the device's upgrade server (TCP 18888)
// and file server (TCP 18889). One exchange per command: connect, send one
// request, read an int32 status (and, for a version query answered with 0, an
// UpInfo record), close. No header, no length prefix: a request is the
// command code followed by that command's payload, all integers 32-bit
// little-endian.
//
//   upgrade 1  Upgrade             UpInfo (212 bytes), then every byte of the package
//   upgrade 2  GetVersion          -
//   file    1  Reboot              -
//   file    2  SetDeviceIp         uint32 n, n characters of the dotted address (no NUL)
//   file    3  SetInterface        uint32 n, n characters of the address, uint32 port
//   file    5  GenerateBackground  -
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maintenance/UpInfo.h"

constexpr uint16_t kUpgradeServerPort = 18888;
constexpr uint16_t kFileServerPort = 18889;

// Command codes, per server.
constexpr uint32_t kCmdUpgrade = 1;
constexpr uint32_t kCmdGetVersion = 2;
constexpr uint32_t kCmdReboot = 1;
constexpr uint32_t kCmdSetDeviceIp = 2;
constexpr uint32_t kCmdSetInterface = 3;
constexpr uint32_t kCmdGenerateBackground = 5;

// Status of every reply.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = -1;

constexpr size_t kStatusSize = 4;
// Code and record in front of the package bytes of an Upgrade request.
constexpr size_t kUpgradeHeaderSize = 4 + kUpInfoSize;

// One of the two servers with the trace lines of its connect (address, port).
struct MaintenanceEndpoint {
    uint16_t port;
    const char* connectFailedLine;
    const char* connectedLine;
};
extern const MaintenanceEndpoint kUpgradeServer;
extern const MaintenanceEndpoint kFileServer;

using Request = std::vector<uint8_t>;

// A request that is the command code alone (GetVersion, Reboot, GenerateBackground).
Request buildCodeRequest(uint32_t code);
// SetDeviceIp: the code, the character count and the characters of address.
Request buildSetDeviceIpRequest(const std::string& address);
// SetInterface: as SetDeviceIp, then the port as the engineer typed it.
Request buildSetInterfaceRequest(const std::string& address, int32_t port);
// The 216 bytes that precede the package in an Upgrade request.
void encodeUpgradeHeader(const UpInfo& info, uint8_t* out);
