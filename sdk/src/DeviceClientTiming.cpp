#include "KestSdk/DeviceClientTiming.h"

DeviceClientTiming& deviceClientTiming() {
    static DeviceClientTiming timing;
    return timing;
}
