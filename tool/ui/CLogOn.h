// The login dialog: the engineer names the device by its IPv4 address, picks
// the interface language and logs in. Logging in makes the address the tool's
// device address, starts the stream receiver on the first attempt and needs a
// first connection to the stream port to succeed.
#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "app/Settings.h"

class QLabel;
class QPushButton;
class QRadioButton;
class SharedState;
class IpAddressEdit;

class CLogOn : public QDialog {
    Q_OBJECT

public:
    // settingsPath: the settings file that offers and remembers the address.
    explicit CLogOn(SharedState& state, std::string settingsPath = kSettingsPath,
                    QWidget* parent = nullptr);
    // Uses the process-wide SharedState and ./KestTools.ini.
    explicit CLogOn(QWidget* parent = nullptr);

    // Language choice, preset to Chinese by the creator.
    bool m_chinese = true;

    void OnLogin();
    void OnCancel();
    void OnChinese();
    void OnEnglish();

    // Widget of a control id of the layout table, nullptr for other ids.
    QWidget* control(int id) const;
    IpAddressEdit* ipControl() const { return m_ip; }

public slots:
    // Escape and the close box end the dialog like 退出.
    void reject() override;

private:
    void OnInitDialog();
    void pauseAfterFailure();

    SharedState& m_state;
    std::string m_settingsPath;
    std::map<int, QWidget*> m_controls;
    IpAddressEdit* m_ip = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_login = nullptr;
    QPushButton* m_exit = nullptr;
    QRadioButton* m_radioCn = nullptr;
    QRadioButton* m_radioEn = nullptr;
    bool m_loginBusy = false;
};
