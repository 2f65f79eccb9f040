#include "platform/QtControlSink.h"

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSysInfo>
#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/PictureView.h"
#include "platform/PlainTextInPlace.h"

void QtControlSink::addControl(int controlId, QWidget* widget, int width, int height) {
    const auto* view = dynamic_cast<PictureView*>(widget);
    m_controls[controlId] = Entry{widget,
                                  width,
                                  height,
                                  std::make_shared<PendingPicture>(),
                                  view ? view->presenter() : nullptr,
                                  view ? view->live() : nullptr};
}

void QtControlSink::setControlText(int controlId, const std::string& text) {
    const auto it = m_controls.find(controlId);
    if (it == m_controls.end()) return;
    QPointer<QWidget> target = it->second.widget;
    if (!target) return;
    const QString value = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        target.data(),
        [target, value] {
            if (!target) return;
            if (auto* edit = qobject_cast<QPlainTextEdit*>(target.data()))
                setPlainTextInPlace(*edit, value);
            else if (auto* label = qobject_cast<QLabel*>(target.data()))
                label->setText(value);
            else if (auto* button = qobject_cast<QAbstractButton*>(target.data()))
                button->setText(value);
            else if (auto* line = qobject_cast<QLineEdit*>(target.data()))
                line->setText(value);
            else
                target->setWindowTitle(value);
        },
        Qt::QueuedConnection);
}

void QtControlSink::controlSize(int controlId, int& width, int& height) const {
    const auto it = m_controls.find(controlId);
    width = it == m_controls.end() ? 0 : it->second.width;
    height = it == m_controls.end() ? 0 : it->second.height;
}

void QtControlSink::showImage(int controlId, const cv::Mat& image) {
    const auto it = m_controls.find(controlId);
    if (it == m_controls.end()) return;
    QPointer<QWidget> target = it->second.widget;
    if (!target) return;
    const std::shared_ptr<PendingPicture> pending = it->second.pending;
    // A lent picture is shown as it is; any other is converted here, on the
    // worker: the GUI thread only swaps the picture in.
    QImage picture = takeBackLent(*pending, image.data);
    // Shown straight from shared memory, a lent picture goes to the screen
    // from here, without waking the GUI thread.
    const Entry& entry = it->second;
    if (!picture.isNull() && entry.presenter && entry.live &&
        entry.live->putFromWorker(*entry.presenter, picture)) {
        // An older picture still waiting for the GUI thread is not shown after it.
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->picture = QImage();
        pending->clear = false;
        return;
    }
    if (picture.isNull()) picture = matToQImage(image);
    if (picture.isNull()) return;
    {
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->picture = std::move(picture);
        pending->clear = false;
        if (pending->posted) return;  // the queued hand-over takes this newer one
        pending->posted = true;
    }
    postHandOver(target, pending);
}

void QtControlSink::clearPicture(int controlId) {
    const auto it = m_controls.find(controlId);
    if (it == m_controls.end()) return;
    QPointer<QWidget> target = it->second.widget;
    if (!target) return;
    const std::shared_ptr<PendingPicture> pending = it->second.pending;
    {
        // Through the same hand-over as the pictures, so that an empty view
        // never lands before a picture shown ahead of it.
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->picture = QImage();
        pending->clear = true;
        if (pending->posted) return;
        pending->posted = true;
    }
    postHandOver(target, pending);
}

void QtControlSink::postHandOver(const QPointer<QWidget>& target,
                                 const std::shared_ptr<PendingPicture>& pending) {
    QMetaObject::invokeMethod(
        target.data(),
        [target, pending] {
            QImage newest;
            bool clear = false;
            {
                std::lock_guard<std::mutex> lock(pending->mutex);
                newest.swap(pending->picture);
                clear = pending->clear;
                pending->clear = false;
                pending->posted = false;
            }
            // Neither: a newer one was put on the screen meanwhile.
            if (newest.isNull() && !clear) return;
            if (auto* view = dynamic_cast<PictureView*>(target.data()))
                view->setPicture(std::move(newest));
            else if (auto* label = qobject_cast<QLabel*>(target.data()))
                label->setPixmap(newest.isNull() ? QPixmap() : QPixmap::fromImage(newest));
        },
        Qt::QueuedConnection);
}

bool QtControlSink::prefersFourChannels() const {
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian;
}

cv::Mat QtControlSink::lendPicture(int controlId, cv::Size size, int type) {
    const auto it = m_controls.find(controlId);
    if (it == m_controls.end() || type != CV_8UC4 || !prefersFourChannels()) return cv::Mat();
    PendingPicture& pending = *it->second.pending;
    std::lock_guard<std::mutex> lock(pending.mutex);
    const std::thread::id self = std::this_thread::get_id();
    // A drawer draws one picture at a time: one it still has was dropped.
    for (LentPicture& candidate : pending.lent)
        if (candidate.out && candidate.drawer == self) candidate.out = false;
    const QSize wanted(size.width, size.height);
    LentPicture* spare = nullptr;
    for (LentPicture& candidate : pending.lent)
        if (!candidate.out && candidate.image.isDetached() && candidate.image.size() == wanted)
            spare = &candidate;
    if (!spare) {
        // One on screen, one waiting and one being drawn is the most a
        // steady stream needs; more would mean pictures pile up somewhere.
        // A picture out to a drawer is never dropped: it draws into it.
        constexpr size_t kMostLent = 4;
        if (pending.lent.size() >= kMostLent) {
            const auto unused = std::find_if(pending.lent.begin(), pending.lent.end(),
                                             [](const LentPicture& p) { return !p.out; });
            if (unused != pending.lent.end()) pending.lent.erase(unused);
        }
        pending.lent.push_back(
            LentPicture{PictureView::newPicture(it->second.presenter, wanted), false, {}});
        spare = &pending.lent.back();
    }
    spare->out = true;
    spare->drawer = self;
    // bits() of an image nobody shares writes into it in place.
    return cv::Mat(size.height, size.width, CV_8UC4, spare->image.bits(),
                   static_cast<size_t>(spare->image.bytesPerLine()));
}

QImage QtControlSink::takeBackLent(PendingPicture& pending, const uint8_t* data) {
    std::lock_guard<std::mutex> lock(pending.mutex);
    for (LentPicture& candidate : pending.lent) {
        if (candidate.image.constBits() != data) continue;
        candidate.out = false;
        return candidate.image;  // a shared copy: not lent again while it is held
    }
    return QImage();
}

QImage matToQImage(const cv::Mat& image) {
    if (image.empty() || image.depth() != CV_8U) return QImage();
    if (image.channels() == 1) {
        QImage wrapped(image.data, image.cols, image.rows, static_cast<int>(image.step),
                       QImage::Format_Grayscale8);
        return wrapped.copy();
    }
    if (image.channels() == 3 && QSysInfo::ByteOrder == QSysInfo::BigEndian) {
        QImage wrapped(image.data, image.cols, image.rows, static_cast<int>(image.step),
                       QImage::Format_RGB888);
        return wrapped.rgbSwapped();  // blue-green-red to red-green-blue, a deep copy
    }
    if (image.channels() == 3) {
        // Straight into the 32-bit format the screen uses (on this byte order
        // its bytes are blue, green, red, 255 in memory), so that the GUI
        // thread shows it without another conversion.
        QImage converted(image.cols, image.rows, QImage::Format_RGB32);
        cv::Mat target(image.rows, image.cols, CV_8UC4, converted.bits(),
                       static_cast<size_t>(converted.bytesPerLine()));
        cv::cvtColor(image, target, cv::COLOR_BGR2BGRA);
        return converted;
    }
    if (image.channels() == 4 && QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        // Already blue, green, red, 255: the screen's format, copied as it is.
        QImage wrapped(image.data, image.cols, image.rows, static_cast<int>(image.step),
                       QImage::Format_RGB32);
        return wrapped.copy();
    }
    return QImage();
}
