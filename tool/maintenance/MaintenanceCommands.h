// The maintenance commands as the device sees them: each is one exchange with
// the upgrade or the file server, traced on the console line by line. They
// block the calling thread for the exchange (connect, then up to the receive
// time-out) and show nothing themselves: the caller turns the result into the
// box the engineer sees (MaintenanceMessages.h).
#pragma once

#include <cstdint>
#include <string>

#include "maintenance/MaintenanceLink.h"
#include "maintenance/MaintenanceProtocol.h"
#include "maintenance/UpInfo.h"

enum class ExchangeEnd {
    ConnectFailed,  // the server could not be reached
    NoStatus,       // connected, but no complete status came back
    Status,         // a status arrived (CommandResult::status)
};

struct CommandResult {
    ExchangeEnd end = ExchangeEnd::ConnectFailed;
    int32_t status = 0;
    // Connected, but the request did not go out whole: the command failed,
    // whatever status follows.
    bool sendFailed = false;
    uint64_t bytesSent = 0;  // of the request, when the send failed
    uint64_t bytesTotal = 0;
    // Status 0 came, but the record that follows it (a version query's) was
    // cut short.
    bool recordCutShort = false;
};

// Sends a prepared Upgrade request (code, record, package) to the upgrade
// server. A failed connect still goes on to the status receive, which then
// fails at once.
CommandResult runUpgrade(const std::string& address, const Request& request,
                         const SendProgress& progress = {});

// Asks the upgrade server for the running version. With status 0 the record
// that follows is received into running; what did not arrive stays zero and
// recordCutShort tells.
CommandResult runGetVersion(const std::string& address, UpInfo& running);

enum class FileCommand { Reboot, SetDeviceIp, SetInterface, GenerateBackground };

// One command of the file server with its prepared request (see
// MaintenanceProtocol.h for the builders).
CommandResult runFileCommand(FileCommand command, const std::string& address,
                             const Request& request);
