// The live 3D view in the place of control 1004: an OpenGL widget that takes
// the 3D worker's latest cloud, and draws the scene list built from it with
// the mouse camera (left-drag rotates, the wheel zooms).
#pragma once

#include <QOpenGLWidget>
#include <QTimer>
#include <atomic>
#include <memory>
#include <vector>

#include "views/Cloud3d.h"
#include "views/Scene3d.h"

class View3dWidget : public QOpenGLWidget {
public:
    View3dWidget(std::shared_ptr<Cloud3dShare> share, QWidget* parent);

    Camera3d& camera() { return m_camera; }
    // Points drawn by the render step (those of the latest frame inside the clip box).
    const std::vector<Point3>& points() const { return m_3dPoints; }
    // Pictures drawn so far.
    uint64_t framesDrawn() const { return m_framesDrawn.load(); }
    // Takes a new cloud from the worker if there is one; true when it did.
    bool takeLatestCloud();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void RenderScene();

    std::shared_ptr<Cloud3dShare> m_share;
    Camera3d m_camera;
    std::vector<ColoredPoint> m_taken;
    std::vector<Point3> m_3dPoints;
    Scene3dDrawList m_list;
    QTimer m_frameTimer;
    bool m_sceneAllowed = false;
    QTimer m_firstSceneTimer;
    std::atomic<uint64_t> m_framesDrawn{0};
};
