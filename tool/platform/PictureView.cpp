#include "platform/PictureView.h"

#include <QChildEvent>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/ShmPresenter.h"

PictureView::PictureView(const QColor& emptyColour, QWidget* parent)
    : QWidget(parent), m_emptyColour(emptyColour), m_presenter(ShmPresenter::forApplication()) {
    // Every pixel is painted here, so Qt need not paint the parent first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Pictures go to the server pixel for pixel: on a scaled (high-density)
    // screen Qt's painting scales them instead.
    if (m_presenter && devicePixelRatioF() == 1.0) {
        // Only this control needs a window of its own, not its parents.
        setAttribute(Qt::WA_DontCreateNativeAncestors);
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_PaintOnScreen);
    }
}

QImage PictureView::newPicture(const std::shared_ptr<ShmPresenter>& presenter, const QSize& size) {
    if (presenter) {
        QImage shared = presenter->newPicture(size);
        if (!shared.isNull()) return shared;
    }
    // QImage's own buffer comes from malloc, 16 bytes past a page start,
    // where the stretch's streaming stores cannot be used; this one is freed
    // with the last copy of the image.
    const size_t bytesPerLine = alignedBytesPerLine(size.width());
    const size_t bytes =
        std::max<size_t>(bytesPerLine * static_cast<size_t>(size.height()), kPictureRowAlignment);
    void* memory = std::aligned_alloc(kPictureRowAlignment, bytes);
    if (!memory) return QImage(size, QImage::Format_RGB32);
    return QImage(static_cast<uchar*>(memory), size.width(), size.height(),
                  static_cast<int>(bytesPerLine), QImage::Format_RGB32, std::free, memory);
}

bool LivePicture::putFromWorker(ShmPresenter& presenter, const QImage& newPicture) {
    std::lock_guard<std::mutex> lock(mutex);
    if (window == 0 || newPicture.isNull() || newPicture.size() != placed.size()) return false;
    if (!presenter.put(window, newPicture, newPicture.rect(), placed.topLeft())) return false;
    // The put has waited until the server read the one before, which may now
    // be drawn into again.
    picture = newPicture;
    return true;
}

PictureView::~PictureView() {
    if (!m_presenter) return;
    {
        // No worker puts to the window once it is gone.
        std::lock_guard<std::mutex> lock(m_live->mutex);
        m_live->window = 0;
    }
    // The server may still be reading the picture on screen.
    m_presenter->settle();
    if (internalWinId()) m_presenter->forget(static_cast<uint32_t>(internalWinId()));
}

QImage PictureView::picture() const {
    std::lock_guard<std::mutex> lock(m_live->mutex);
    return m_live->picture;
}

void PictureView::setPicture(QImage picture) {
    std::unique_lock<std::mutex> lock(m_live->mutex);
    const QRect before = m_live->placed;
    // The picture on screen is let go only once the server has read it: the
    // put of the new one, or settle(), waits for that.
    const QImage leaving = std::exchange(m_live->picture, std::move(picture));
    m_live->placed = placeFor(m_live->picture.size());
    const QRect after = m_live->placed;
    // A picture the size of the last one repaints just itself; a change of
    // size uncovers or covers background too.
    const QRect changed = before == after ? after : before.united(after);
    // Shown directly, the picture goes to the server at once, without an
    // update request: a request per frame for a widget painted on screen
    // starves the OpenGL 3D view in the same window of its own repaints.
    if (showsDirectly() && isVisible() && paintDirectly(changed)) return;
    lock.unlock();
    if (m_presenter) m_presenter->settle();
    update(changed);
}

QRect PictureView::placeFor(const QSize& size) const {
    if (size.isEmpty()) return QRect();
    // Centred; an odd spare pixel goes to the right or bottom.
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void PictureView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    std::lock_guard<std::mutex> lock(m_live->mutex);
    m_live->placed = placeFor(m_live->picture.size());
}

bool PictureView::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ScreenChangeInternal:  // perhaps to a scaled screen
            updateWorkerRoute();
            break;
        default:
            break;
    }
    return handled;
}

void PictureView::updateWorkerRoute() {
    const bool open = m_presenter && showsDirectly() && isVisible() && devicePixelRatioF() == 1.0;
    const auto window = open ? static_cast<uint32_t>(winId()) : 0u;
    std::lock_guard<std::mutex> lock(m_live->mutex);
    m_live->window = window;
}

void PictureView::stopShowingDirectly() {
    setAttribute(Qt::WA_PaintOnScreen, false);
    updateWorkerRoute();
    if (m_presenter) m_presenter->settle();
    update();
}

void PictureView::childEvent(QChildEvent* event) {
    QWidget::childEvent(event);
    // A control hosting a widget (the 3D view over the right image area)
    // needs Qt to compose that widget over it: Qt paints it from then on.
    if (event->added() && event->child()->isWidgetType() && showsDirectly()) stopShowingDirectly();
}

QPaintEngine* PictureView::paintEngine() const {
    // Painted without a QPainter while shown directly.
    return showsDirectly() ? nullptr : QWidget::paintEngine();
}

void PictureView::paintEvent(QPaintEvent* event) {
    // A grab renders into a pixmap through a redirected painter.
    if (showsDirectly() && !redirected(nullptr)) {
        bool painted = false;
        {
            std::lock_guard<std::mutex> lock(m_live->mutex);
            painted = paintDirectly(event->region());
        }
        if (!painted) stopShowingDirectly();
        return;
    }
    QImage picture;
    QRect placed;
    {
        std::lock_guard<std::mutex> lock(m_live->mutex);
        picture = m_live->picture;
        placed = m_live->placed;
    }
    QPainter painter(this);
    const QRegion uncovered = event->region() - QRegion(placed);
    for (const QRect& part : uncovered) painter.fillRect(part, m_emptyColour);
    const QRect shown = placed & event->rect();
    if (!shown.isEmpty())
        painter.drawImage(shown.topLeft(), picture, shown.translated(-placed.topLeft()));
}

bool PictureView::paintDirectly(const QRegion& region) {
    if (devicePixelRatioF() != 1.0) return false;  // moved to a scaled screen
    const auto window = static_cast<uint32_t>(winId());
    const QRect placed = m_live->placed;
    const QRect shown = placed & region.boundingRect();
    if (!shown.isEmpty()) {
        // A picture from elsewhere (not drawn into one of ours) is copied
        // into one first.
        const QImage& current = m_live->picture;
        QImage picture = current;
        if (!m_presenter->owns(picture)) {
            m_presenter->settle();  // the server may still read the scratch's last copy
            if (m_scratch.size() != current.size())
                m_scratch = m_presenter->newPicture(current.size());
            if (m_scratch.isNull()) return false;
            const QImage converted = current.convertToFormat(QImage::Format_RGB32);
            for (int y = 0; y < converted.height(); ++y)
                std::copy_n(converted.constScanLine(y), converted.width() * 4,
                            m_scratch.scanLine(y));
            picture = m_scratch;
        }
        if (!m_presenter->put(window, picture, shown.translated(-placed.topLeft()),
                              shown.topLeft()))
            return false;
    }
    for (const QRect& part : region - QRegion(placed))
        m_presenter->fill(window, part, m_emptyColour.rgb());
    return true;
}
