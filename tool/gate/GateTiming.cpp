#include "gate/GateTiming.h"

GateTiming& gateTiming() {
    static GateTiming timing;
    return timing;
}
