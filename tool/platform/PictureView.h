// A control that shows the picture a worker drew for it. It paints the
// picture straight from its 32-bit QImage (the screen's own format, so the
// paint is a plain copy) and only the part Qt asks for; the area the picture
// does not cover gets the empty-view colour. Nothing behind it is painted.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

class PictureView : public QWidget {
public:
    PictureView(const QColor& emptyColour, QWidget* parent);

    // Shows the picture centred in the control (an empty one shows none).
    void setPicture(QImage picture);
    void clear() { setPicture(QImage()); }
    const QImage& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect pictureRect() const;

    QColor m_emptyColour;
    QImage m_picture;
};
