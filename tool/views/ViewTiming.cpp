#include "views/ViewTiming.h"

ViewTiming& viewTiming() {
    static ViewTiming timing;
    return timing;
}
