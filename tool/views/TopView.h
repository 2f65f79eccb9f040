// The top view of the passage: the point cloud projected into a 240 x 160
// height map in the jet scale, with the detected objects and the detection
// areas mapped to pixel rectangles and drawn over it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

#include "stream/StreamRecords.h"
#include "views/MapRect.h"

constexpr int kTopViewWidth = 240;   // columns, along y
constexpr int kTopViewHeight = 160;  // rows, along x
constexpr int kTopViewPixels = kTopViewWidth * kTopViewHeight;
// Heights above this (metres) are not drawn; it maps to the top of the scale.
constexpr float kTopViewHeightRange = 2.0f;
// Six area rectangles are mapped (the whole area and detection areas 1..5).
constexpr int kTopViewAreaRects = 6;

// Each point raises its pixel and the eight around it; the peak map holds each
// pixel's highest point alone, with a border of one pixel all round for
// points that land just outside the picture.
constexpr int kTopViewPeakWidth = kTopViewWidth + 2;
constexpr int kTopViewPeakHeight = kTopViewHeight + 2;
constexpr int kTopViewPeakCells = kTopViewPeakWidth * kTopViewPeakHeight;
// Points that are not drawn go to cells past the map, one per lane of a step,
// so that they do not all wait on one cell.
constexpr int kTopViewSpareCells = 32;

// The picture and the height buffers of the top view. One object per 2D
// worker, reused for every frame so that projecting allocates nothing.
struct TopViewImage {
    std::array<uint8_t, kTopViewPixels * 3> pixels{};  // blue, green, red; rows of 240
    std::array<float, kTopViewPixels> heights{};       // highest height drawn per pixel
    // Highest point per pixel, and spare cells at the end for points not drawn.
    std::array<float, kTopViewPeakCells + kTopViewSpareCells> peaks{};

    // The pixels as a 160-row, 240-column 8-bit 3-channel image (no copy).
    cv::Mat mat() { return cv::Mat(kTopViewHeight, kTopViewWidth, CV_8UC3, pixels.data()); }
};

struct TopViewBounds {
    float xMin = 0, xMax = 0, yMin = 0, yMax = 0;
};

// Pixel rectangles found by the projection.
struct TopViewRects {
    std::array<PixelRect, kMaxObjRecords> objects{};  // records other than kind -2, no gaps
    int objectCount = 0;
    std::array<PixelRect, kMaxObjRecords> areas{};  // 0..5 used
};

// View bounds from the whole area (the first rectangle of the area block): the
// area plus 0.4 m at both ends of its long axis (y when it is longer along y,
// otherwise x, a square area included).
TopViewBounds TopViewBoundsForArea(const AreaBlock& areas);

// Projects the whole points of the point block (12 bytes each, a remainder is
// ignored) into view, and maps the object records (up to 10, kind -2
// skipped) and area rectangles 0..5 into rects.
void ProjectTopView(TopViewImage& view, const uint8_t* pointBytes, size_t pointLen,
                    float heightRange, float xMin, float xMax, float yMin, float yMax, int objCount,
                    const ObjRecord* records, const AreaBlock& areas, TopViewRects& rects);

// The processor instructions the projection runs on. The widest the processor
// has is taken by default; every choice gives the same picture.
enum class TopViewInstructions { Widest, Avx2, Sse2 };

// For tests: makes later projections use the given instructions. Returns false,
// changing nothing, when this processor lacks them.
bool UseTopViewInstructionsForTesting(TopViewInstructions instructions);

// Draws the object rectangles with their numbers, area rectangles 0..4 and the
// "People: N" box into the 160 x 240 picture; traces each object rectangle.
// Returns the number of persons (records of kind 0 or greater).
int DrawTopViewOverlay(cv::Mat& image, int objCount, const ObjRecord* records,
                       const TopViewRects& rects);

// One whole picture of a frame: bounds, projection and overlay.
int RenderTopView(TopViewImage& view, const uint8_t* pointBytes, size_t pointLen, int objCount,
                  const ObjRecord* records, const AreaBlock& areas, TopViewRects& rects);
