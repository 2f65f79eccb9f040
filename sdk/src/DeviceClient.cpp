// DeviceClient: implementation lands with the library issue.
#include "KestSdk/DeviceClient.h"
