// What the registration dialog does for each of its commands, without any
// widget: the geometry state, the floor points of the top and zoom views and
// their pictures. The dialog calls one method per button and shows the
// picture it gets back.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

#include "registration/RegDrawing.h"
#include "registration/RegGeometry.h"

class ControlSink;

// Set to 1 by the initialisation of every registration dialog; never cleared.
extern std::atomic<int32_t> g_regDialogInitialised;

// The drawing thread of a dialog, started detached: it looks every
// dialogInitPollMs until a dialog has been initialised, waits rawViewDelayMs
// more, then draws the raw view and puts it into the picture control. It owns
// what it uses, so a dialog may go before it draws; alive false then skips it.
void StartRawViewThread(std::shared_ptr<const std::vector<RegPoint>> raw, int width, int height,
                        std::shared_ptr<ControlSink> sink, int controlId,
                        std::shared_ptr<std::atomic<bool>> alive);

// Which view area changes and the swap redraw.
constexpr int kRegTopView = 0;
constexpr int kRegZoomView = 1;

class RegWorkbench {
public:
    RegWorkbench() = default;
    // With matrices of a test's own instead of the process-wide ones.
    RegWorkbench(RegMatrix& registration, RegMatrix& display) : geometry(registration, display) {}

    // The point set of the run: width x height raw points, row by row.
    void SetPointData(std::vector<RegPoint> points, int width, int height);
    std::shared_ptr<const std::vector<RegPoint>> rawPoints() const { return m_raw; }
    int rawWidth() const { return m_width; }
    int rawHeight() const { return m_height; }
    cv::Mat RenderRaw() const;

    // Height confirmed: top view with the centre cross, dumps written.
    const cv::Mat& ConfirmHeight(double h);
    // One rotation step (-1 or +1 degree), then the same top view.
    const cv::Mat& Rotate(float degrees);
    // Gate size confirmed: areas generated and the top view drawn with them
    // (shown by the caller later).
    void ConfirmGate(double length, double width);
    // One zoom step; the zoom view becomes the active view.
    const cv::Mat& Zoom(double delta);
    // One adjust command; the active view is drawn again with the areas.
    const cv::Mat& Adjust(RegAdjust op);
    // The areas swapped; the active view drawn again.
    const cv::Mat& Swap();

    const cv::Mat& topPicture() const { return m_top; }
    const cv::Mat& zoomPicture() const { return m_zoom; }
    const cv::Mat& activePicture() const { return activeView == kRegZoomView ? m_zoom : m_top; }
    const RegPixelRects& topRects() const { return m_topRects; }
    const RegPixelRects& zoomRects() const { return m_zoomRects; }
    const std::vector<RegPoint>& topFloor() const { return m_topFloor; }

    RegGeometry geometry;
    int activeView = kRegTopView;
    // Where ssfile.xyz and dsfile.xyz go: the working directory.
    std::string dumpDir = ".";

private:
    const cv::Mat& drawTopWithCross();
    void drawTopWithAreas();
    void drawZoomWithAreas();
    void drawActive();

    std::shared_ptr<const std::vector<RegPoint>> m_raw = std::make_shared<std::vector<RegPoint>>();
    int m_width = 0;
    int m_height = 0;
    std::vector<RegPoint> m_topFloor;
    std::vector<RegPoint> m_zoomFloor;
    RegPixelRects m_topRects{};
    RegPixelRects m_zoomRects{};
    cv::Mat m_top;
    cv::Mat m_zoom;
};
