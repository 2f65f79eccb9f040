#include "core/Timing.h"

ShellTiming& shellTiming() {
    static ShellTiming timing;
    return timing;
}
