// 升级 (Update): the engineer picks an upgrade package, confirms its
// "upinfo.txt", and the dialog prepares the Upgrade request. It only
// prepares; the main window's upgrade command sends.
#pragma once

#include <string>

#include "maintenance/UpgradeChoice.h"
#include "ui/TableDialog.h"

class Prompt;

class CUpdateVersion : public TableDialog {
    Q_OBJECT

public:
    CUpdateVersion(Prompt& prompt, QWidget* parent = nullptr);

    // 选择升级文件: open-file dialog, then read and confirm the package.
    void OnChoose();
    // 确定: IDOK once a package was accepted, IDCANCEL otherwise.
    void OnOK();
    // 取消 (and Escape): IDCANCEL.
    void OnCancel();

    const UpgradeChoice& choice() const { return m_choice; }
    Request takeRequest() { return m_choice.takeRequest(); }

public slots:
    void reject() override { OnCancel(); }

private:
    Prompt& m_prompt;
    UpgradeChoice m_choice;
};
