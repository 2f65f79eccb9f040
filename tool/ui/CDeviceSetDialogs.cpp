#include "ui/CDeviceSetDialogs.h"

#include <QLineEdit>

#include "app/AddressText.h"
#include "app/KestToolsApp.h"
#include "core/Flags.h"
#include "core/LeadingInteger.h"
#include "platform/Prompt.h"
#include "ui/IpAddressEdit.h"

namespace {

// Yes closes the dialog with IDOK; No keeps it open.
bool confirmed(Prompt& prompt, bool chinese, const char* chineseText, const char* englishText) {
    return prompt.messageBox(chinese ? chineseText : englishText, chinese ? "提示" : "prompt",
                             PromptButtons::YesNo, PromptIcon::Question) == kAnswerYes;
}

}  // namespace

CSetSelfIp::CSetSelfIp(Prompt& prompt, QWidget* parent)
    : TableDialog(kSetSelfIpDialog, g_uiChinese, parent), m_prompt(prompt) {
    buildControls(kSetSelfIpControls);
    onClick(ids::kSetSure, [this] { OnSure(); });
    onClick(ids::kSetCancel, [this] { OnCancel(); });
}

IpAddressEdit* CSetSelfIp::ipControl() const {
    return static_cast<IpAddressEdit*>(control(ids::kSetIpAddress));
}

void CSetSelfIp::OnSure() {
    m_address = formatDottedQuad(ipControl()->address());
    if (confirmed(m_prompt, m_chinese, "是否确认IP设置", "is sure ip set")) done(IDOK);
}

void CSetSelfIp::OnCancel() {
    done(IDCANCEL);
}

CBaseInter::CBaseInter(Prompt& prompt, QWidget* parent)
    : TableDialog(kBaseInterDialog, g_uiChinese, parent), m_prompt(prompt) {
    buildControls(kBaseInterControls);
    onClick(ids::kSetSure, [this] { OnSure(); });
    onClick(ids::kSetCancel, [this] { OnCancel(); });
}

IpAddressEdit* CBaseInter::ipControl() const {
    return static_cast<IpAddressEdit*>(control(ids::kSetIpAddress));
}

void CBaseInter::OnSure() {
    m_address = formatDottedQuad(ipControl()->address());
    m_port =
        leadingInteger(static_cast<QLineEdit*>(control(ids::kSetPortEdit))->text().toStdString());
    if (confirmed(m_prompt, m_chinese, "是否确认接口信息设置", "is sure inter info")) done(IDOK);
}

void CBaseInter::OnCancel() {
    done(IDCANCEL);
}
