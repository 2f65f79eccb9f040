#include "views/StandardGateAreas.h"

AreaBlock standardGateAreas() {
    AreaBlock a{};
    const float x0 = -kStandardGateWidth / 2;
    const float x1 = kStandardGateWidth / 2;
    a[0] = x0;
    a[1] = kStandardGateSliceEdges[0];
    a[2] = x1;
    a[3] = kStandardGateSliceEdges[5];
    for (int k = 0; k < 5; ++k) {
        a[4 + 4 * k] = x0;
        a[5 + 4 * k] = kStandardGateSliceEdges[k];
        a[6 + 4 * k] = x1;
        a[7 + 4 * k] = kStandardGateSliceEdges[k + 1];
    }
    return a;
}
