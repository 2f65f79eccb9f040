#include "ui/CVersionShow.h"

#include <QLineEdit>

#include "core/Flags.h"

CVersionShow::CVersionShow(const std::string& version, const std::string& date, QWidget* parent)
    : TableDialog(kVersionShowDialog, g_uiChinese, parent) {
    buildControls(kVersionShowControls);
    static_cast<QLineEdit*>(control(ids::kVersionText))->setText(QString::fromStdString(version));
    static_cast<QLineEdit*>(control(ids::kDateText))->setText(QString::fromStdString(date));
}
