// 版本信息: the version and date of the version the device runs. No buttons:
// the close box or Escape ends it.
#pragma once

#include <string>

#include "ui/TableDialog.h"

class CVersionShow : public TableDialog {
    Q_OBJECT

public:
    CVersionShow(const std::string& version, const std::string& date, QWidget* parent = nullptr);
};
