// A dialog built from a resource table: title and client size in both
// languages, and every control at its place. The maintenance dialogs derive
// from it and only add their handlers.
#pragma once

#include <QDialog>
#include <array>
#include <map>

#include "ui/MaintenanceResources.h"

class QPushButton;

class TableDialog : public QDialog {
    Q_OBJECT

public:
    // Widget of a control id of the table, nullptr for other ids.
    QWidget* control(int id) const;

protected:
    TableDialog(const DialogSpec& layout, bool chinese, QWidget* parent);

    template <size_t N>
    void buildControls(const std::array<ControlSpec, N>& table) {
        for (const ControlSpec& item : table) addControl(item);
    }
    // Connects a button of the table to a handler of the dialog.
    template <typename Handler>
    void onClick(int id, Handler handler);

    // The interface language, taken from g_uiChinese when the dialog was made.
    const bool m_chinese;

private:
    void addControl(const ControlSpec& item);
    QPushButton* button(int id) const;

    std::map<int, QWidget*> m_controls;
};

#include <QPushButton>

template <typename Handler>
void TableDialog::onClick(int id, Handler handler) {
    connect(button(id), &QPushButton::clicked, this, handler);
}
