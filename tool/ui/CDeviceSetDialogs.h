// The two argument dialogs of the device configuration menu: 设备IP设置 (the
// device's new address) and 设置外部接口信息 (address and port of the external
// system that receives the device's data). 确定 asks for confirmation; No
// leaves the dialog open with the fields as typed.
#pragma once

#include <cstdint>
#include <string>

#include "ui/TableDialog.h"

class Prompt;
class IpAddressEdit;

class CSetSelfIp : public TableDialog {
    Q_OBJECT

public:
    CSetSelfIp(Prompt& prompt, QWidget* parent = nullptr);

    void OnSure();
    void OnCancel();
    IpAddressEdit* ipControl() const;

    // "%d.%d.%d.%d" of the address control when 确定 was last pressed.
    std::string m_address;

public slots:
    void reject() override { OnCancel(); }

private:
    Prompt& m_prompt;
};

class CBaseInter : public TableDialog {
    Q_OBJECT

public:
    CBaseInter(Prompt& prompt, QWidget* parent = nullptr);

    void OnSure();
    void OnCancel();
    IpAddressEdit* ipControl() const;

    std::string m_address;
    // The leading digits of the port field; no range check, the device gets
    // whatever was typed.
    int32_t m_port = 0;

public slots:
    void reject() override { OnCancel(); }

private:
    Prompt& m_prompt;
};
