// Resource tables of the maintenance dialogs: 升级 (choose an upgrade
// package), 版本信息 (the running version), 设备IP设置 (the device's new
// address) and 设置外部接口信息 (the external interface).
#pragma once

#include <array>

#include "ui/DialogResources.h"

namespace ids {
// 升级 (CUpdateVersion)
constexpr int kChooseUpFile = 1000;
constexpr int kUpFilePath = 1032;
constexpr int kUpSure = 1001;
constexpr int kUpCancel = 1002;
// 版本信息 (CVersionShow)
constexpr int kVersionLabel = 1033;
constexpr int kVersionText = 1034;
constexpr int kDateLabel = 1035;
constexpr int kDateText = 1036;
// 设备IP设置 (CSetSelfIp) and 设置外部接口信息 (CBaseInter)
constexpr int kSetIpLabel = 1037;
constexpr int kSetIpAddress = 1039;
constexpr int kSetPortLabel = 1038;
constexpr int kSetPortEdit = 1040;
constexpr int kSetSure = 1035;
constexpr int kSetCancel = 1036;
}  // namespace ids

struct DialogSpec {
    const char* titleChinese;
    const char* titleEnglish;
    int width;
    int height;
};

extern const DialogSpec kUpdateVersionDialog;
extern const std::array<ControlSpec, 4> kUpdateVersionControls;

extern const DialogSpec kVersionShowDialog;
extern const std::array<ControlSpec, 4> kVersionShowControls;

extern const DialogSpec kSetSelfIpDialog;
extern const std::array<ControlSpec, 4> kSetSelfIpControls;

extern const DialogSpec kBaseInterDialog;
extern const std::array<ControlSpec, 6> kBaseInterControls;
