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
#include <QWidget>
#include <memory>

class ShmPresenter;

class PictureView : public QWidget {
public:
    PictureView(const QColor& emptyColour, QWidget* parent);
    ~PictureView() override;

    // Shows the picture centred in the control (an empty one shows none).
    void setPicture(QImage picture);
    void clear() { setPicture(QImage()); }
    const QImage& picture() const { return m_picture; }

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
    void paintEvent(QPaintEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QRect pictureRect() const;
    // Paints event's region straight to the window; false when the window
    // cannot take our pictures (Qt paints from then on).
    bool paintDirectly(const QRegion& region);

    QColor m_emptyColour;
    QImage m_picture;
    std::shared_ptr<ShmPresenter> m_presenter;
    QImage m_scratch;  // shared memory for pictures made elsewhere
};
