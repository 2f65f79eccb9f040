#include "ui/CVersionShow.h"

#include <QLineEdit>
#include <utility>

#include "core/Flags.h"

CVersionShow::CVersionShow(const std::string& version, const std::string& date, QWidget* parent)
    : TableDialog(kVersionShowDialog, g_uiChinese, parent) {
    buildControls(kVersionShowControls);
    // The fields are narrow: a long text scrolls, and its tooltip shows it whole.
    const std::pair<int, const std::string*> fields[] = {{ids::kVersionText, &version},
                                                         {ids::kDateText, &date}};
    for (const auto& field : fields) {
        auto* edit = static_cast<QLineEdit*>(control(field.first));
        edit->setText(QString::fromStdString(*field.second));
        edit->setToolTip(edit->text());
        edit->setCursorPosition(0);
    }
}
