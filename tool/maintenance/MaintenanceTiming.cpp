#include "maintenance/MaintenanceTiming.h"

MaintenanceTiming& maintenanceTiming() {
    static MaintenanceTiming timing;
    return timing;
}
