#include "ui/MaintenanceResources.h"

const DialogSpec kUpdateVersionDialog = {"升级", "Update", 600, 400};
const std::array<ControlSpec, 4> kUpdateVersionControls = {{
    {ids::kChooseUpFile, ControlKind::Button, "选择升级文件", "choice up file!", 150, 60, 240, 40},
    {ids::kUpFilePath, ControlKind::ReadOnlyLine, "", nullptr, 100, 120, 340, 40},
    {ids::kUpSure, ControlKind::Button, "确定", "sure", 100, 180, 90, 40},
    {ids::kUpCancel, ControlKind::Button, "取消", "cancle", 350, 180, 90, 40},
}};

// The title stays Chinese in both languages; the labels are English in both.
const DialogSpec kVersionShowDialog = {"版本信息", "版本信息", 400, 300};
const std::array<ControlSpec, 4> kVersionShowControls = {{
    {ids::kVersionLabel, ControlKind::Static, "version:", nullptr, 60, 60, 100, 40},
    {ids::kVersionText, ControlKind::ReadOnlyLineCentered, "", nullptr, 200, 60, 100, 40},
    {ids::kDateLabel, ControlKind::Static, "date:", nullptr, 60, 120, 100, 40},
    {ids::kDateText, ControlKind::ReadOnlyLineCentered, "", nullptr, 200, 120, 100, 40},
}};

const DialogSpec kSetSelfIpDialog = {"设备IP设置", "DeviceIpSet", 400, 300};
const std::array<ControlSpec, 4> kSetSelfIpControls = {{
    {ids::kSetIpLabel, ControlKind::Static, "I  P：", nullptr, 60, 60, 50, 30},
    {ids::kSetIpAddress, ControlKind::IpAddress, "", nullptr, 120, 60, 180, 30},
    {ids::kSetSure, ControlKind::Button, "确定", "sure", 80, 120, 80, 30},
    {ids::kSetCancel, ControlKind::Button, "取消", "cancle", 200, 120, 80, 30},
}};

const DialogSpec kBaseInterDialog = {"设置外部接口信息", "BaseInterSet", 400, 300};
const std::array<ControlSpec, 6> kBaseInterControls = {{
    {ids::kSetIpLabel, ControlKind::Static, "I  P：", nullptr, 60, 60, 50, 30},
    {ids::kSetIpAddress, ControlKind::IpAddress, "", nullptr, 120, 60, 180, 30},
    {ids::kSetPortLabel, ControlKind::Static, "PORT：", nullptr, 60, 110, 50, 30},
    {ids::kSetPortEdit, ControlKind::LineEdit, "", nullptr, 120, 110, 180, 30},
    {ids::kSetSure, ControlKind::Button, "确定", "sure", 80, 150, 80, 30},
    {ids::kSetCancel, ControlKind::Button, "取消", "cancle", 200, 150, 80, 30},
}};
