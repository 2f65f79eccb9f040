#include "platform/WhileResponsive.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <thread>

void runWhileResponsive(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    QEventLoop loop;
    std::thread worker([&] {
        work();
        // Queued: delivered once the loop runs, even if the work was quicker.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}
