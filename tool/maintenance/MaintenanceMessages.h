// What the engineer is told after a maintenance command: the text of the box
// the main window shows, in the interface language. nullptr means no box:
// connect and receive failures of most commands are reported on the console
// only, and statuses other than 0 and -1 are accepted silently. A request
// that did not go out whole is never reported as success: an upgrade shows
// its own failure box, a file-server command its failure text.
#pragma once

#include "maintenance/MaintenanceCommands.h"

// A text in the two interface languages.
struct BilingualText {
    const char* chinese;
    const char* english;
    const char* in(bool chineseUi) const { return chineseUi ? chinese : english; }
};

const char* upgradeBoxText(const CommandResult& result, bool chinese);
// A reached server answering 0 shows the version dialog instead of a box.
const char* versionBoxText(const CommandResult& result, bool chinese);
const char* fileCommandBoxText(FileCommand command, const CommandResult& result, bool chinese);

// History versions and rollback are in the menu but not offered by the device.
extern const BilingualText kNotSupportedText;
// The event version of the external data link needs no interface setting.
extern const BilingualText kNoInterfaceText;
