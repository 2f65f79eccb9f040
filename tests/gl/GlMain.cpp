// Entry of the OpenGL test program: one QApplication on a real X display
// (a virtual one from xvfb-run), since Qt's offscreen platform has no OpenGL.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
