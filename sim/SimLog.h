// Console log of the simulated device: one line per event, with the server's
// name, flushed at once so that a test or a person watching sees it live.
#pragma once

void simLog(const char* server, const char* format, ...) __attribute__((format(printf, 2, 3)));
