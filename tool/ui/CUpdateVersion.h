// 升级 (Update): the engineer picks an upgrade package, confirms its
// "upinfo.txt", and the dialog prepares the Upgrade request. It only
// prepares; the main window's upgrade command sends. The package's file work
// runs off the GUI thread, so the windows keep painting while a large package
// is read; its boxes are asked on the GUI thread.
#pragma once

#include <functional>
#include <string>

#include "maintenance/UpgradeChoice.h"
#include "ui/TableDialog.h"

class Prompt;

class CUpdateVersion : public TableDialog {
    Q_OBJECT

public:
    CUpdateVersion(Prompt& prompt, QWidget* parent = nullptr);

    // 选择升级文件: open-file dialog, then read and confirm the package.
    // Returns when the choice has ended; the buttons do nothing meanwhile.
    void OnChoose();
    // 确定: IDOK once a package was accepted, IDCANCEL otherwise.
    void OnOK();
    // 取消 (and Escape): IDCANCEL.
    void OnCancel();

    const UpgradeChoice& choice() const { return m_choice; }
    // A step of the package's file work is running.
    bool reading() const { return m_reading; }
    Request takeRequest() { return m_choice.takeRequest(); }

public slots:
    void reject() override { OnCancel(); }

private:
    // Runs a step of file work on a worker while this thread keeps handling
    // events; the buttons are disabled until it ends.
    void readStep(const std::function<void()>& step);

    Prompt& m_prompt;
    bool m_reading = false;
    UpgradeChoice m_choice;
};
