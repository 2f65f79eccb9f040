// ControlSink of a Qt dialog: a worker's text or picture for a control is
// posted to the GUI thread (queued, never blocking the worker). Controls are
// registered on the GUI thread before any worker starts; after that the table
// is only read, so every call is safe from any thread.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <mutex>

#include "core/ControlSink.h"

class QtControlSink : public ControlSink {
public:
    // Registers a control with its client size from the layout table.
    void addControl(int controlId, QWidget* widget, int width, int height);

    void setControlText(int controlId, const std::string& text) override;
    void controlSize(int controlId, int& width, int& height) const override;
    void showImage(int controlId, const cv::Mat& image) override;

private:
    // The newest picture for a control that the GUI thread has not taken
    // yet. While the GUI thread is busy (a modal box, a long exchange) newer
    // pictures replace it, so at most one waits per control.
    struct PendingPicture {
        std::mutex mutex;
        QImage picture;
        bool posted = false;
    };
    struct Entry {
        QPointer<QWidget> widget;
        int width = 0;
        int height = 0;
        std::shared_ptr<PendingPicture> pending;
    };
    std::map<int, Entry> m_controls;
};

// Deep copy of an 8-bit grey or blue-green-red picture as a QImage; a null
// image for other formats.
QImage matToQImage(const cv::Mat& image);
