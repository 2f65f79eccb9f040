#include "ui/CUpdateVersion.h"

#include <QLineEdit>

#include "app/KestToolsApp.h"
#include "core/Flags.h"
#include "platform/Prompt.h"
#include "platform/WhileResponsive.h"

namespace {
constexpr const char* kOpenFileFilter = "All Files (*);;Text Files (*.txt)";
}  // namespace

CUpdateVersion::CUpdateVersion(Prompt& prompt, QWidget* parent)
    : TableDialog(kUpdateVersionDialog, g_uiChinese, parent),
      m_prompt(prompt),
      m_choice(prompt, m_chinese, [this](const std::function<void()>& step) { readStep(step); }) {
    buildControls(kUpdateVersionControls);
    onClick(ids::kChooseUpFile, [this] { OnChoose(); });
    onClick(ids::kUpSure, [this] { OnOK(); });
    onClick(ids::kUpCancel, [this] { OnCancel(); });
}

void CUpdateVersion::OnChoose() {
    if (m_reading) return;
    const std::string path = m_prompt.openFile(windowTitle().toStdString(), kOpenFileFilter);
    if (path.empty()) return;
    static_cast<QLineEdit*>(control(ids::kUpFilePath))->setText(QString::fromStdString(path));
    m_choice.choose(path);
}

void CUpdateVersion::OnOK() {
    if (m_reading) return;
    done(m_choice.ready() ? IDOK : IDCANCEL);
}

void CUpdateVersion::OnCancel() {
    // A read in progress ends on its own once the file has been read; the
    // dialog closes after it, not underneath it.
    if (m_reading) return;
    done(IDCANCEL);
}

void CUpdateVersion::readStep(const std::function<void()>& step) {
    m_reading = true;
    for (int id : {ids::kChooseUpFile, ids::kUpSure, ids::kUpCancel})
        if (QWidget* button = control(id)) button->setEnabled(false);
    runWhileResponsive(step);
    for (int id : {ids::kChooseUpFile, ids::kUpSure, ids::kUpCancel})
        if (QWidget* button = control(id)) button->setEnabled(true);
    m_reading = false;
}
