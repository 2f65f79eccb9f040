// The live 3D view drawn with OpenGL (Mesa's software renderer under Xvfb):
// the scene's cloud, the grid and the axes in the picture, the main dialog's
// 3D mode drawing every frame, and the mouse camera. Writes PNG snapshots.
#include <QAbstractButton>
#include <QEventLoop>
#include <QTimer>
#include <QWheelEvent>
#include <functional>

#include "GuiTestSupport.h"
#include "Scene.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "ui/CKestToolsDlg.h"
#include "ui/View3dWidget.h"
#include "views/View3dWorker.h"
#include "views/ViewTiming.h"

namespace {

using namespace std::chrono_literals;

// Pixels of a picture that satisfy a colour test.
int countPixels(const QImage& image, const std::function<bool(QColor)>& test) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += test(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool isRed(QColor c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}
// A point of the height scale's lower half (blue to cyan): the floor.
bool isFloorPoint(QColor c) {
    return c.blue() > 200 && c.red() < 60;
}
bool isPersonPoint(QColor c) {
    return c.red() > 200 && c.green() > 100 && c.blue() < 60;
}

// The first scene frame with a person in the middle of the passage.
uint64_t frameWithPerson() {
    scene::Frame frame;
    for (uint64_t n = 0;; ++n) {
        scene::Scene(1).frame(n, frame);
        for (const scene::PersonState& p : frame.persons)
            if (p.y > -0.3f && p.y < 0.3f) return n;
    }
}

// The cloud of one scene frame, as the 3D worker hands it over.
void publishSceneFrame(Cloud3dShare& share, uint64_t n) {
    scene::Frame frame;
    scene::Scene(1).frame(n, frame);
    std::vector<ColoredPoint> cloud;
    ProcessCloud(frame.points.data(), frame.points.size(), standardGateAreas(), cloud);
    std::lock_guard<std::mutex> lock(share.m_3dMutex);
    share.m_3dColored.swap(cloud);
    share.m_3dNew = true;
}

class View3dGl : public ::testing::Test {
protected:
    View3dGl() {
        shortenShellWaits();
        g_appClosing = false;
        view3dTiming().startWaitMs = 0;
        view3dTiming().pollMs = 5;
        view3dTiming().afterFrameMs = 5;
    }
};

TEST_F(View3dGl, DrawsTheCloudTheGridAndTheAxes) {
    auto share = std::make_shared<Cloud3dShare>();
    View3dWidget view(share, nullptr);
    view.resize(640, 480);
    view.show();
    publishSceneFrame(*share, frameWithPerson());
    ASSERT_TRUE(pumpUntil([&] { return !view.points().empty() && view.framesDrawn() > 0; }, 15s));
    const QImage picture = view.grabFramebuffer();
    saveSnapshot(view, "view3d.png");
    ASSERT_EQ(picture.size(), QSize(640, 480));
    EXPECT_GT(countPixels(picture, isRed), 50);  // the x axis
    EXPECT_GT(countPixels(picture, isFloorPoint), 5000);
    EXPECT_GT(countPixels(picture, isPersonPoint), 100);
    // Only the points inside the clip box around the gate are drawn.
    EXPECT_LT(view.points().size(), static_cast<size_t>(scene::kPointCount));
}

// Showing the view and drawing its first scene are separate turns of the GUI
// thread: with software OpenGL each costs tens of milliseconds, so a timer
// must get its turn between the first picture reaching the window and the
// first scene being drawn.
TEST_F(View3dGl, TheFirstSceneComesATurnAfterTheViewIsShown) {
    auto share = std::make_shared<Cloud3dShare>();
    publishSceneFrame(*share, frameWithPerson());
    QWidget window;  // the view is a child of the main window's picture area
    window.resize(320, 240);
    View3dWidget view(share, &window);
    view.resize(320, 240);
    int picturesComposed = 0, ticksBeforeTheScene = 0;
    QObject::connect(&view, &QOpenGLWidget::frameSwapped, [&] { ++picturesComposed; });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (picturesComposed > 0 && view.framesDrawn() == 0) ++ticksBeforeTheScene;
    });
    ticker.start(0);
    window.show();
    ASSERT_TRUE(pumpUntil([&] { return view.framesDrawn() > 0; }, 15s));
    EXPECT_GT(ticksBeforeTheScene, 0);
}

TEST_F(View3dGl, TheWheelAndDraggingMoveTheCamera) {
    auto share = std::make_shared<Cloud3dShare>();
    View3dWidget view(share, nullptr);
    view.resize(320, 240);
    view.show();
    publishSceneFrame(*share, frameWithPerson());
    ASSERT_TRUE(pumpUntil([&] { return !view.points().empty() && view.framesDrawn() > 0; }, 15s));
    const int nearFloor = countPixels(view.grabFramebuffer(), isFloorPoint);
    for (int i = 0; i < 5; ++i) {
        QWheelEvent away(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&view, &away);
    }
    EXPECT_EQ(view.camera().m_camDist, 8.0f);
    // Farther away, the passage covers fewer pixels.
    EXPECT_LT(countPixels(view.grabFramebuffer(), isFloorPoint), nearFloor / 2);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(130, 80), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(130, 80), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &press);
    QCoreApplication::sendEvent(&view, &move);
    QCoreApplication::sendEvent(&view, &release);
    EXPECT_EQ(view.camera().m_camYaw, 30.0f);
    EXPECT_EQ(view.camera().m_camPitch, -20.0f);
    EXPECT_FALSE(view.camera().m_dragging);
    saveSnapshot(view, "view3d_turned.png");
}

TEST_F(View3dGl, TheDialogsThreeDModeDrawsEveryFrame) {
    viewTiming().topViewStartWaitMs = 0;
    TraceCapture trace;  // keeps the distributor's lines off the console
    SharedState state;
    CKestToolsDlg dlg(state);
    dlg.show();
    qobject_cast<QAbstractButton*>(dlg.control(ids::kOpenStream))->click();
    qobject_cast<QAbstractButton*>(dlg.control(ids::kOpen3d))->click();
    ASSERT_NE(dlg.view3d(), nullptr);
    EXPECT_EQ(dlg.view3d()->parentWidget(), dlg.control(ids::kView3d));
    scene::Scene scene(1);
    scene::Frame frame;
    uint64_t n = 10;
    const auto feedUntil = [&](const std::function<bool()>& done) {
        return pumpUntil(
            [&] {
                scene.frame(n++, frame);
                std::string points(frame.points.begin(), frame.points.end());
                state.StoreFrame(points, 0, nullptr, frame.areas);
                return done();
            },
            15s);
    };
    ASSERT_TRUE(feedUntil([&] { return dlg.m_3d->framesProcessed.load() >= 8; }));
    const uint64_t drawn = dlg.view3d()->framesDrawn();
    ASSERT_TRUE(feedUntil([&] { return dlg.view3d()->framesDrawn() >= drawn + 5; }));
    saveSnapshot(dlg, "main_3d.png");
    viewTiming().topViewStartWaitMs = 2000;
}

}  // namespace
