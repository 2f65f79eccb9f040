#include "ui/TableDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/IpAddressEdit.h"

TableDialog::TableDialog(const DialogSpec& layout, bool chinese, QWidget* parent)
    : QDialog(parent), m_chinese(chinese) {
    setWindowTitle(QString::fromUtf8(chinese ? layout.titleChinese : layout.titleEnglish));
    resize(layout.width, layout.height);
}

void TableDialog::addControl(const ControlSpec& item) {
    const char* text = !m_chinese && item.english ? item.english : item.chinese;
    const QString caption = QString::fromUtf8(text);
    QWidget* widget = nullptr;
    switch (item.kind) {
        case ControlKind::Button: {
            auto* button = new QPushButton(caption, this);
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case ControlKind::IpAddress:
            widget = new IpAddressEdit(this);
            break;
        case ControlKind::LineEdit:
        case ControlKind::ReadOnlyLine:
        case ControlKind::ReadOnlyLineCentered: {
            auto* edit = new QLineEdit(caption, this);
            edit->setReadOnly(item.kind != ControlKind::LineEdit);
            if (item.kind == ControlKind::ReadOnlyLineCentered) edit->setAlignment(Qt::AlignCenter);
            widget = edit;
            break;
        }
        default: {
            auto* label = new QLabel(caption, this);
            label->setAlignment(item.kind == ControlKind::StaticCentered
                                    ? Qt::AlignCenter
                                    : Qt::AlignLeft | Qt::AlignVCenter);
            widget = label;
            break;
        }
    }
    widget->setGeometry(item.x, item.y, item.w, item.h);
    m_controls[item.id] = widget;
}

QWidget* TableDialog::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QPushButton* TableDialog::button(int id) const {
    return qobject_cast<QPushButton*>(control(id));
}
