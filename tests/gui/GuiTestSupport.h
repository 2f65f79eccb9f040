// Helpers of the GUI tests: texts of controls, temporary settings files,
// shortened waits and PNG snapshots.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Timing.h"

inline std::string widgetText(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
    return w ? w->windowTitle().toStdString() : std::string("<no control>");
}

inline void shortenShellWaits() {
    shellTiming().loginRetryPauseMs = 10;
    shellTiming().streamReconnectWaitMs = 50;
    shellTiming().streamReceiveTimeoutMs = 300;
}

// A temporary directory for settings files, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kest-gui-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    std::string file(const std::string& name) const {
        return (std::filesystem::path(path_) / name).string();
    }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes a PNG of the widget into the build tree's snapshot folder.
inline void saveSnapshot(QWidget& widget, const std::string& name) {
    QDir().mkpath(QStringLiteral(KEST_SNAPSHOT_DIR));
    widget.show();
    QCoreApplication::processEvents();
    const QString path = QStringLiteral(KEST_SNAPSHOT_DIR "/") + QString::fromStdString(name);
    EXPECT_TRUE(widget.grab().save(path, "PNG")) << path.toStdString();
}
