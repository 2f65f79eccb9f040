// Entry of the OpenGL test program: one QApplication on a real X display
// (a virtual one from xvfb-run), since Qt's offscreen platform has no OpenGL.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstring>

int main(int argc, char** argv) {
    // Mesa unloads its driver at exit; kept loaded, the leak checker can name
    // the driver's own allocations (suppressed as a system library's).
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    // Mesa's software renderer, the same on every machine whatever its GPU.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    // --scale-factor=N: Qt scales the whole display by N (a high-density screen).
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--scale-factor=", 15) == 0)
            setenv("QT_SCALE_FACTOR", argv[i] + 15, 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
