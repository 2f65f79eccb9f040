// Faults the kernel will not produce on demand, injected into the library's
// own socket calls: this program defines send and recv itself, so the
// library's calls reach these definitions first and the real ones after.
// A fault applies to one socket only and is used up once it has happened.
#pragma once

#include <cstddef>

// The next send on fd puts at most `accepted` bytes out; the send after that
// fails as a send time-out does (with accepted 0, the next send at once).
void injectShortSendThenTimeout(int fd, size_t accepted);
// The next receive on fd fails as if a signal had interrupted it.
void injectInterruptedReceive(int fd);
// Drops any fault not yet used.
void clearSocketFaults();
