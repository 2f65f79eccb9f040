// The about box of the tool, reached from the help menu.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
