// One kestctl command on one device, through the same code as the tool's
// menus, so the bytes on the wire are the ones the dialogs send.
#pragma once

#include <string>

#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "maintenance/MaintenanceLink.h"
#include "maintenance/MaintenanceProtocol.h"

// upgradeRequest: the prepared request of an upgrade (read and confirmed
// once for all devices); progress: bytes of it on the wire.
DeviceReport runOnDevice(const CliOptions& options, const std::string& device,
                         const Request& upgradeRequest, const SendProgress& progress);
