// A control that shows the picture a worker drew for it. It paints the
// picture straight from its 32-bit QImage (the screen's own format, so the
// paint is a plain copy) and only the part Qt asks for; the area the picture
// does not cover gets the empty-view colour. Nothing behind it is painted.
//
// On an unscaled X11 display with shared memory the control is a window of its own
// that Qt does not paint: pictures made by newPicture() go from their shared
// segment to the server directly, without the copy into Qt's backing store.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <mutex>

class ShmPresenter;

// The picture a control shows, shared with the worker that draws for it, so
// that the worker can put a new picture on the screen itself while the
// control is shown directly: the GUI thread then has nothing to do per frame.
struct LivePicture {
    std::mutex mutex;     // guards the rest; held across every put to the window
    QImage picture;       // on screen (kept from reuse until the next put is read)
    QRect placed;         // where it is, in the control
    uint32_t window = 0;  // the control's window while a worker may put to it, else 0

    // From the worker: shows picture, one of presenter's, in place of the
    // current one of the same size. False when the GUI thread must show it
    // (not shown directly now, a new size, or the put refused).
    bool putFromWorker(ShmPresenter& presenter, const QImage& newPicture);
};

class PictureView : public QWidget {
public:
    PictureView(const QColor& emptyColour, QWidget* parent);
    ~PictureView() override;

    // Shows the picture centred in the control (an empty one shows none).
    void setPicture(QImage picture);
    void clear() { setPicture(QImage()); }
    QImage picture() const;
    // The control's picture as its drawing worker shares it.
    std::shared_ptr<LivePicture> live() const { return m_live; }

    // Makes a blank Format_RGB32 picture for this control, with every row on
    // a 64-byte boundary: in shared memory when the control is shown that way.
    // Any thread may call it.
    static QImage newPicture(const std::shared_ptr<ShmPresenter>& presenter, const QSize& size);
    // The shared-memory route of this control, or nullptr.
    std::shared_ptr<ShmPresenter> presenter() const { return m_presenter; }
    // True while pictures go to the server directly.
    bool showsDirectly() const { return testAttribute(Qt::WA_PaintOnScreen); }

    QPaintEngine* paintEngine() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void childEvent(QChildEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Where a picture of size goes: centred.
    QRect placeFor(const QSize& size) const;
    // Paints region straight to the window, with m_live's lock held; false
    // when the window cannot take our pictures (Qt paints from then on).
    bool paintDirectly(const QRegion& region);
    // Qt paints the control from now on.
    void stopShowingDirectly();
    // Opens m_live's window to the worker while the control is shown
    // directly, visible and unscaled; closes it otherwise.
    void updateWorkerRoute();

    QColor m_emptyColour;
    std::shared_ptr<LivePicture> m_live = std::make_shared<LivePicture>();
    std::shared_ptr<ShmPresenter> m_presenter;
    QImage m_scratch;  // shared memory for pictures made elsewhere
};
