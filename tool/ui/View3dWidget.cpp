#include "ui/View3dWidget.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_1_1>
#include <QWheelEvent>
#include <cmath>

namespace {

// The view looks for a new cloud this often (the device sends about 10 a second).
constexpr int kFramePollMs = 15;
constexpr float kFieldOfViewDegrees = 45.0f;
constexpr float kNearPlane = 0.1f;
constexpr float kFarPlane = 1000.0f;
constexpr float kPointSize = 2.0f;
constexpr float kBackground = 0.1f;
// The first scene is drawn this long after the background-only first picture.
constexpr int kFirstSceneDelayMs = 20;

}  // namespace

View3dWidget::View3dWidget(std::shared_ptr<Cloud3dShare> share, QWidget* parent)
    : QOpenGLWidget(parent), m_share(std::move(share)) {
    connect(&m_frameTimer, &QTimer::timeout, this, [this] {
        if (takeLatestCloud()) update();
    });
    m_frameTimer.start(kFramePollMs);
    m_firstSceneTimer.setSingleShot(true);
    connect(&m_firstSceneTimer, &QTimer::timeout, this, [this] {
        m_sceneAllowed = true;
        update();
    });
}

bool View3dWidget::takeLatestCloud() {
    if (!m_share->m_3dNew.exchange(false)) return false;
    {
        // Swapped, not copied: the worker's next frame reuses this buffer.
        std::lock_guard<std::mutex> lock(m_share->m_3dMutex);
        m_taken.swap(m_share->m_3dColored);
    }
    VisiblePoints(m_taken, m_3dPoints);
    return true;
}

void View3dWidget::initializeGL() {
    auto* gl = context()->versionFunctions<QOpenGLFunctions_1_1>();
    if (!gl) return;
    gl->initializeOpenGLFunctions();
    gl->glClearColor(kBackground, kBackground, kBackground, 1.0f);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glPointSize(kPointSize);
}

void View3dWidget::resizeGL(int w, int h) {
    auto* gl = context()->versionFunctions<QOpenGLFunctions_1_1>();
    if (!gl) return;
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    const double aspect = h > 0 ? static_cast<double>(w) / h : 1.0;
    const double top = kNearPlane * std::tan(kFieldOfViewDegrees * M_PI / 360.0);
    gl->glFrustum(-top * aspect, top * aspect, -top, top, kNearPlane, kFarPlane);
    gl->glMatrixMode(GL_MODELVIEW);
}

void View3dWidget::paintGL() {
    if (!m_sceneAllowed) {
        // Until the first scene is due, every picture is only the background.
        // Showing the view makes the context and the window's composition,
        // and the first lines and points make their shader programs; with
        // software OpenGL these cost tens of milliseconds each, too much for
        // one turn of the GUI thread together. The scene waits for a timer,
        // so the GUI thread's other timers run in between.
        auto* gl = context()->versionFunctions<QOpenGLFunctions_1_1>();
        if (gl) gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (!m_firstSceneTimer.isActive()) m_firstSceneTimer.start(kFirstSceneDelayMs);
        return;
    }
    RenderScene();
}

void View3dWidget::RenderScene() {
    auto* gl = context()->versionFunctions<QOpenGLFunctions_1_1>();
    if (!gl) return;
    BuildScene(m_camera, m_3dPoints, m_list);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadMatrixf(m_list.modelView.data());
    float width = 0;
    gl->glBegin(GL_LINES);
    for (const Line3d& line : m_list.lines) {
        if (line.width != width) {
            // The width cannot change between glBegin and glEnd.
            gl->glEnd();
            width = line.width;
            gl->glLineWidth(width);
            gl->glBegin(GL_LINES);
        }
        gl->glColor3ub(line.rgb[0], line.rgb[1], line.rgb[2]);
        gl->glVertex3fv(line.a);
        gl->glVertex3fv(line.b);
    }
    gl->glEnd();
    gl->glLineWidth(1.0f);
    if (!m_list.pointXyz.empty()) {
        gl->glEnableClientState(GL_VERTEX_ARRAY);
        gl->glEnableClientState(GL_COLOR_ARRAY);
        gl->glVertexPointer(3, GL_FLOAT, 0, m_list.pointXyz.data());
        gl->glColorPointer(3, GL_UNSIGNED_BYTE, 0, m_list.pointRgb.data());
        gl->glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(m_list.pointXyz.size() / 3));
        gl->glDisableClientState(GL_COLOR_ARRAY);
        gl->glDisableClientState(GL_VERTEX_ARRAY);
    }
    ++m_framesDrawn;
}

// The mouse changes the camera and redraws at once, also while no frames come.
void View3dWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_camera.OnLButtonDown(event->x(), event->y());
    QOpenGLWidget::mousePressEvent(event);
}

void View3dWidget::mouseMoveEvent(QMouseEvent* event) {
    if (m_camera.m_dragging) {
        m_camera.OnMouseMove(event->x(), event->y());
        update();
    }
    QOpenGLWidget::mouseMoveEvent(event);
}

void View3dWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_camera.OnLButtonUp();
    QOpenGLWidget::mouseReleaseEvent(event);
}

void View3dWidget::wheelEvent(QWheelEvent* event) {
    m_camera.OnMouseWheel(event->angleDelta().y());
    update();
    event->accept();  // handled here, not passed on
}
