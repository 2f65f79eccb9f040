// The registration pictures: the raw depth view of a received point set, the
// top views (height map with a dashed centre cross or with the detection
// areas), and the two point dump files. Pictures are 8-bit blue-green-red.
#pragma once

#include <array>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

#include "registration/RegGeometry.h"
#include "views/MapRect.h"

// Pixel rectangles of a view: entries 0..5 take the gate and areas 1..5.
using RegPixelRects = std::array<PixelRect, 10>;

// Depths (z of the raw points) from 0 to this many metres span the colours.
constexpr float kRawDepthRange = 6.0f;

// Colours raw points by depth into a height x width picture (point row x
// width + column at that row and column). Empty when the size has no pixels
// or raw holds fewer points than it.
cv::Mat RenderRawView(const std::vector<RegPoint>& raw, int width, int height);

// Height map of floor points in window w (points above kRegHeightLimit and
// outside the window are skipped; every point paints a 3 x 3 block, the
// highest point wins). With areas, the gate and areas 1..5 are mapped into
// rects. Empty for an empty window.
cv::Mat ProjectRegView(const std::vector<RegPoint>& floor, const RegViewWindow& w,
                       const RegAreaSet* areas, RegPixelRects* rects);

// Red dashed lines across the middle of the picture, horizontal then vertical.
void DrawDashedCross(cv::Mat& image);

// Areas 1..5 as red rectangles with their number centred in them; traceLabels
// prints where each went (the top view does, the zoom view does not).
void DrawRegAreas(cv::Mat& image, const RegPixelRects& rects, bool traceLabels);

// Writes dir/ssfile.xyz (raw points) and dir/dsfile.xyz (floor points), one
// "x y z" line each; false (with a trace line) when a file cannot be written.
bool WritePointDumps(const std::string& dir, const std::vector<RegPoint>& raw,
                     const std::vector<RegPoint>& floor);
