#include "ui/CUpdateVersion.h"

#include <QLineEdit>

#include "app/KestToolsApp.h"
#include "core/Flags.h"
#include "platform/Prompt.h"

namespace {
constexpr const char* kOpenFileFilter = "All Files (*);;Text Files (*.txt)";
}  // namespace

CUpdateVersion::CUpdateVersion(Prompt& prompt, QWidget* parent)
    : TableDialog(kUpdateVersionDialog, g_uiChinese, parent),
      m_prompt(prompt),
      m_choice(prompt, m_chinese) {
    buildControls(kUpdateVersionControls);
    onClick(ids::kChooseUpFile, [this] { OnChoose(); });
    onClick(ids::kUpSure, [this] { OnOK(); });
    onClick(ids::kUpCancel, [this] { OnCancel(); });
}

void CUpdateVersion::OnChoose() {
    const std::string path = m_prompt.openFile(windowTitle().toStdString(), kOpenFileFilter);
    if (path.empty()) return;
    static_cast<QLineEdit*>(control(ids::kUpFilePath))->setText(QString::fromStdString(path));
    m_choice.choose(path);
}

void CUpdateVersion::OnOK() {
    done(m_choice.ready() ? IDOK : IDCANCEL);
}

void CUpdateVersion::OnCancel() {
    done(IDCANCEL);
}
