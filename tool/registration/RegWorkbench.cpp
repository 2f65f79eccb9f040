#include "registration/RegWorkbench.h"

#include <thread>

#include "registration/RegistrationTiming.h"
#include "views/DrawMatToControl.h"

std::atomic<int32_t> g_regDialogInitialised{0};

void StartRawViewThread(std::shared_ptr<const std::vector<RegPoint>> raw, int width, int height,
                        std::shared_ptr<ControlSink> sink, int controlId,
                        std::shared_ptr<std::atomic<bool>> alive) {
    std::thread([=] {
        const RegistrationTiming& timing = registrationTiming();
        while (!g_regDialogInitialised.load())
            std::this_thread::sleep_for(RegistrationTiming::ms(timing.dialogInitPollMs));
        std::this_thread::sleep_for(RegistrationTiming::ms(timing.rawViewDelayMs));
        if (!alive->load()) return;
        const cv::Mat picture = RenderRawView(*raw, width, height);
        if (alive->load()) DrawMatToControl(picture, *sink, controlId);
    }).detach();
}

void RegWorkbench::SetPointData(std::vector<RegPoint> points, int width, int height) {
    m_raw = std::make_shared<const std::vector<RegPoint>>(std::move(points));
    m_width = width;
    m_height = height;
}

cv::Mat RegWorkbench::RenderRaw() const {
    return RenderRawView(*m_raw, m_width, m_height);
}

const cv::Mat& RegWorkbench::drawTopWithCross() {
    TransformPoints(geometry.regMatrix(), *m_raw, m_topFloor);
    WritePointDumps(dumpDir, *m_raw, m_topFloor);
    m_top = ProjectRegView(m_topFloor, geometry.topWindow, nullptr, nullptr);
    DrawDashedCross(m_top);
    return m_top;
}

void RegWorkbench::drawTopWithAreas() {
    if (!geometry.gateValid) {
        // No usable gate size was given: nothing to show until there is one.
        m_top = cv::Mat();
        return;
    }
    m_top = ProjectRegView(m_topFloor, geometry.topWindow, &geometry.areas, &m_topRects);
    DrawRegAreas(m_top, m_topRects, true);
}

void RegWorkbench::drawZoomWithAreas() {
    if (!geometry.gateValid) {
        m_zoom = cv::Mat();
        return;
    }
    m_zoom = ProjectRegView(m_zoomFloor, geometry.zoomWindow, &geometry.areas, &m_zoomRects);
    DrawRegAreas(m_zoom, m_zoomRects, false);
}

void RegWorkbench::drawActive() {
    if (activeView == kRegZoomView)
        drawZoomWithAreas();
    else
        drawTopWithAreas();
}

const cv::Mat& RegWorkbench::ConfirmHeight(double h) {
    geometry.SetInstallHeight(h);
    return drawTopWithCross();
}

const cv::Mat& RegWorkbench::Rotate(float degrees) {
    geometry.RotateStep(degrees);
    return drawTopWithCross();
}

void RegWorkbench::ConfirmGate(double length, double width) {
    geometry.SetGate(length, width);
    drawTopWithAreas();
}

const cv::Mat& RegWorkbench::Zoom(double delta) {
    activeView = kRegZoomView;
    geometry.ZoomStep(delta);
    TransformPoints(geometry.dispMatrix(), *m_raw, m_zoomFloor);
    drawZoomWithAreas();
    return m_zoom;
}

const cv::Mat& RegWorkbench::Adjust(RegAdjust op) {
    geometry.Adjust(op);
    drawActive();
    return activePicture();
}

const cv::Mat& RegWorkbench::Swap() {
    geometry.SwapAreas();
    drawActive();
    return activePicture();
}
