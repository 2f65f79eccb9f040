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
#include <thread>
#include <vector>

#include "core/ControlSink.h"

class ShmPresenter;
struct LivePicture;

class QtControlSink : public ControlSink {
public:
    // Registers a control with its client size from the layout table.
    void addControl(int controlId, QWidget* widget, int width, int height);

    void setControlText(int controlId, const std::string& text) override;
    void controlSize(int controlId, int& width, int& height) const override;
    void showImage(int controlId, const cv::Mat& image) override;
    bool prefersFourChannels() const override;
    // Each drawer gets a picture of its own: one lent picture is out to one
    // drawer from the lend until showImage takes it back (or the same thread
    // lends again, which gives back the one it had), and is never lent twice
    // meanwhile, whichever threads draw into the control.
    cv::Mat lendPicture(int controlId, cv::Size size, int type) override;
    // Empties the control, in turn with the pictures shown before it.
    void clearPicture(int controlId);

private:
    // The newest picture for a control that the GUI thread has not taken
    // yet. While the GUI thread is busy (a modal box, a long exchange) newer
    // pictures replace it, so at most one waits per control.
    // Pictures lent to drawing threads are QImages in the screen's format:
    // shown, they reach the GUI thread as shared copies, no pixel is copied.
    // One is lent again only when it is back from its drawer and no copy of
    // it is held elsewhere (waiting here, or on screen).
    struct LentPicture {
        QImage image;
        bool out = false;        // being drawn into: lent and not shown yet
        std::thread::id drawer;  // who has it while it is out
    };
    struct PendingPicture {
        std::mutex mutex;
        QImage picture;
        bool clear = false;  // the newest thing to show is no picture
        bool posted = false;
        std::vector<LentPicture> lent;
    };
    struct Entry {
        QPointer<QWidget> widget;
        int width = 0;
        int height = 0;
        std::shared_ptr<PendingPicture> pending;
        // Where the control's lent pictures are made (shared memory when it
        // shows them straight on the X server), or nullptr.
        std::shared_ptr<ShmPresenter> presenter;
        // The picture control's picture, which the worker may put on the
        // screen itself, or nullptr.
        std::shared_ptr<LivePicture> live;
    };
    // The lent picture whose pixels start at data, back from its drawer, or
    // a null image.
    static QImage takeBackLent(PendingPicture& pending, const uint8_t* data);
    // Queues the hand-over of pending's newest picture (or clear) to target.
    static void postHandOver(const QPointer<QWidget>& target,
                             const std::shared_ptr<PendingPicture>& pending);

    std::map<int, Entry> m_controls;
};

// Deep copy of an 8-bit grey, blue-green-red or (on a little-endian machine)
// blue-green-red-255 picture as a QImage; a null image for other formats.
QImage matToQImage(const cv::Mat& image);
