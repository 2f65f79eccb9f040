#include "views/MapRect.h"

#include <algorithm>
#include <cmath>

namespace {

// round(offset * (size - 1) / span), clamped to 0..size-1. Done in float and
// clamped before the conversion so that NaN or huge corners from the device
// land on the border instead of being undefined.
int32_t mapAxis(float v, float lo, float hi, int size) {
    const float last = static_cast<float>(size - 1);
    float p = std::round((v - lo) * last / (hi - lo));
    if (!(p >= 0.0f)) p = 0.0f;
    if (p > last) p = last;
    return static_cast<int32_t>(p);
}

}  // namespace

PixelRect MapRect(float x0, float y0, float x1, float y1, float xMin, float xMax, float yMin,
                  float yMax, int width, int height) {
    const int32_t c0 = mapAxis(y0, yMin, yMax, width);
    const int32_t c1 = mapAxis(y1, yMin, yMax, width);
    const int32_t r0 = mapAxis(x0, xMin, xMax, height);
    const int32_t r1 = mapAxis(x1, xMin, xMax, height);
    return PixelRect{std::min(c0, c1), std::min(r0, r1), std::max(c0, c1), std::max(r0, r1)};
}
