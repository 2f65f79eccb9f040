#include "ui/CLogOn.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <array>
#include <thread>

#include "app/AddressText.h"
#include "app/KestToolsApp.h"
#include "core/ControlIds.h"
#include "core/SharedState.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "ui/DialogResources.h"
#include "ui/IpAddressEdit.h"

namespace {
// Offered when the settings file holds no usable address.
constexpr std::array<uint8_t, 4> kDefaultDeviceAddress = {192, 168, 1, 221};
}  // namespace

CLogOn::CLogOn(SharedState& state, std::string settingsPath, QWidget* parent)
    : QDialog(parent), m_state(state), m_settingsPath(std::move(settingsPath)) {
    OnInitDialog();
}

CLogOn::CLogOn(QWidget* parent) : CLogOn(SharedState::instance(), kSettingsPath, parent) {}

void CLogOn::OnInitDialog() {
    setWindowTitle(QString::fromUtf8(kLogOnTitleChinese));
    resize(kLogOnWidth, kLogOnHeight);

    for (const ControlSpec& item : kLogOnControls) {
        const QString text = QString::fromUtf8(item.chinese);
        QWidget* widget = nullptr;
        switch (item.kind) {
            case ControlKind::GroupBox:
                widget = new QGroupBox(text, this);
                break;
            case ControlKind::IpAddress:
                widget = m_ip = new IpAddressEdit(this);
                break;
            case ControlKind::Button: {
                auto* button = new QPushButton(text, this);
                widget = button;
                if (item.id == ids::kLogin) m_login = button;
                if (item.id == ids::kExit) m_exit = button;
                break;
            }
            case ControlKind::RadioButton: {
                auto* radio = new QRadioButton(text, this);
                widget = radio;
                if (item.id == ids::kRadioChinese) m_radioCn = radio;
                if (item.id == ids::kRadioEnglish) m_radioEn = radio;
                break;
            }
            case ControlKind::StaticCentered:
            case ControlKind::Static: {
                auto* label = new QLabel(text, this);
                if (item.kind == ControlKind::StaticCentered) {
                    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
                    label->setWordWrap(true);
                    if (item.id == ids::kStatus) m_status = label;
                } else {
                    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                }
                widget = label;
                break;
            }
            default:
                continue;
        }
        widget->setGeometry(item.x, item.y, item.w, item.h);
        m_controls[item.id] = widget;
    }

    // Enter logs in.
    m_login->setDefault(true);
    m_exit->setAutoDefault(false);
    connect(m_login, &QPushButton::clicked, this, [this] { OnLogin(); });
    connect(m_exit, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_radioCn, &QRadioButton::clicked, this, [this] { OnChinese(); });
    connect(m_radioEn, &QRadioButton::clicked, this, [this] { OnEnglish(); });

    std::array<uint8_t, 4> address = kDefaultDeviceAddress;
    const std::string remembered = GetHisIp(m_settingsPath);
    if (!remembered.empty() && remembered != "error") parseDottedQuad(remembered, address);
    m_ip->setAddress(address[0], address[1], address[2], address[3]);

    m_radioCn->setChecked(true);
    m_ip->octet(0)->setFocus();
}

QWidget* CLogOn::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CLogOn::OnChinese() {
    tracef("点击了1!\n");
    m_chinese = true;
    m_login->setText(QStringLiteral("登录"));
    m_exit->setText(QStringLiteral("退出"));
    m_status->setText(QStringLiteral("未连接"));
    setWindowTitle(QString::fromUtf8(kLogOnTitleChinese));
}

void CLogOn::OnEnglish() {
    tracef("点击了2!\n");
    m_chinese = false;
    m_login->setText(QStringLiteral("Login"));
    m_exit->setText(QStringLiteral("Cancel"));
    m_status->setText(QStringLiteral("Not Connect"));
    setWindowTitle(QString::fromUtf8(kLogOnTitleEnglish));
}

void CLogOn::OnCancel() {
    done(IDCANCEL);
}

void CLogOn::reject() {
    OnCancel();
}

void CLogOn::OnLogin() {
    // Clicks that queued up while an attempt blocked the dialog are dropped.
    if (m_loginBusy) return;
    m_loginBusy = true;

    const std::string ip = formatDottedQuad(m_ip->address());
    m_state.OpenStream(ip);
    if (m_state.ConnectStream()) {
        tracef("连接服务器[%s:%d]成功！\n", ip.c_str(), kStreamPort);
        m_status->setText(m_chinese ? QStringLiteral("连接服务器成功！")
                                    : QStringLiteral("connect server success!!"));
        // ConnectStream has already set the stream options, before the
        // receiver could start: taking streamMutex here again could wait for
        // a whole receive time-out behind the receiver's first receive.
        SetHisIp(ip, m_settingsPath);
        m_loginBusy = false;
        done(IDOK);
        return;
    }

    tracef("连接服务器[%s:%d]失败！\n", ip.c_str(), kStreamPort);
    m_status->setText(m_chinese ? QStringLiteral("连接服务器失败！")
                                : QStringLiteral("connect server fail!!"));
    pauseAfterFailure();
    m_loginBusy = false;
}

void CLogOn::pauseAfterFailure() {
    // The dialog thread is blocked for the pause. The button is disabled
    // meanwhile, so clicks made during the pause are delivered to a disabled
    // button once events flow again, and are ignored.
    m_login->setEnabled(false);
    repaint();  // show the failure status during the pause
    std::this_thread::sleep_for(ShellTiming::ms(shellTiming().loginRetryPauseMs));
    QCoreApplication::processEvents();
    m_login->setEnabled(true);
}
