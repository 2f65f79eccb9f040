#include "ui/IpAddressEdit.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 1, 4, 1);
    layout->setSpacing(0);
    for (size_t i = 0; i < m_octets.size(); ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(3);
        edit->setValidator(new QIntValidator(0, 255, edit));
        edit->installEventFilter(this);
        layout->addWidget(edit, 1);
        m_octets[i] = edit;
        // Typing a full octet moves on to the next one, like the classic field.
        if (i + 1 < m_octets.size()) {
            connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) {
                if (text.size() == 3) m_octets[i + 1]->setFocus();
            });
        }
    }
}

void IpAddressEdit::setAddress(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    const uint8_t bytes[4] = {b0, b1, b2, b3};
    for (size_t i = 0; i < m_octets.size(); ++i) m_octets[i]->setText(QString::number(bytes[i]));
}

std::array<uint8_t, 4> IpAddressEdit::address() const {
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < m_octets.size(); ++i) {
        const int value = m_octets[i]->text().toInt();  // empty or unparsable: 0
        bytes[i] = static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    return bytes;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    // A dot moves to the next octet.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Period) {
            for (size_t i = 0; i + 1 < m_octets.size(); ++i) {
                if (watched == m_octets[i]) {
                    m_octets[i + 1]->setFocus();
                    m_octets[i + 1]->selectAll();
                    return true;
                }
            }
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
