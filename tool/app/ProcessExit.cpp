#include "app/ProcessExit.h"

#include <cstdio>
#include <cstdlib>

#include "stream/PointDataWriter.h"

void EndProcess(int status) {
    // _Exit flushes no stdio stream of its own: the record files first.
    CloseAllRecordFiles();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
