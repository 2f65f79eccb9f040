// Mapping floor rectangles (metres) to pixel rectangles of a top-view picture
// whose rows run along x and whose columns run along y.
#pragma once

#include <cstdint>

struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// (x0, y0) and (x1, y1) are opposite corners; the result is clamped into the
// width x height picture and ordered (left <= right, top <= bottom).
PixelRect MapRect(float x0, float y0, float x1, float y1, float xMin, float xMax, float yMin,
                  float yMax, int width, int height);
