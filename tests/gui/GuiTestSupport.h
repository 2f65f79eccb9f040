// Helpers of the GUI tests: texts of controls, shortened waits and PNG
// snapshots; temporary settings files come from TempFiles.h.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>

#include "ScopedTimings.h"
#include "TempFiles.h"
#include "core/Timing.h"

inline std::string widgetText(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
    return w ? w->windowTitle().toStdString() : std::string("<no control>");
}

// Callers hold a ScopedTimings that puts the waits back after the test.
inline void shortenShellWaits() {
    shellTiming().loginRetryPauseMs = 10;
    shellTiming().streamReconnectWaitMs = 50;
    shellTiming().streamReceiveTimeoutMs = 300;
}

// Writes a PNG of the widget into the build tree's snapshot folder.
inline void saveSnapshot(QWidget& widget, const std::string& name) {
    QDir().mkpath(QStringLiteral(KEST_SNAPSHOT_DIR));
    widget.show();
    QCoreApplication::processEvents();
    const QString path = QStringLiteral(KEST_SNAPSHOT_DIR "/") + QString::fromStdString(name);
    EXPECT_TRUE(widget.grab().save(path, "PNG")) << path.toStdString();
}

// Runs the GUI thread's events, in slices of 10 ms, until predicate holds;
// false when it still does not after wait.
inline bool pumpUntil(const std::function<bool()>& predicate,
                      std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
