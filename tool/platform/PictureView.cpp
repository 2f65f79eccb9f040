#include "platform/PictureView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

PictureView::PictureView(const QColor& emptyColour, QWidget* parent)
    : QWidget(parent), m_emptyColour(emptyColour) {
    // Every pixel is painted here, so Qt need not paint the parent first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setPicture(QImage picture) {
    const QRect before = pictureRect();
    m_picture = std::move(picture);
    const QRect after = pictureRect();
    // A picture the size of the last one repaints just itself; a change of
    // size uncovers or covers background too.
    update(before == after ? after : before.united(after));
}

QRect PictureView::pictureRect() const {
    if (m_picture.isNull()) return QRect();
    // Centred; an odd spare pixel goes to the right or bottom.
    return QRect(QPoint((width() - m_picture.width()) / 2, (height() - m_picture.height()) / 2),
                 m_picture.size());
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect placed = pictureRect();
    const QRegion uncovered = event->region() - QRegion(placed);
    for (const QRect& part : uncovered) painter.fillRect(part, m_emptyColour);
    const QRect shown = placed & event->rect();
    if (!shown.isEmpty())
        painter.drawImage(shown.topLeft(), m_picture, shown.translated(-placed.topLeft()));
}
