#include "ui/DialogResources.h"

#include "core/ControlIds.h"

const std::array<ControlSpec, 8> kLogOnControls = {{
    // The group box comes first so that it lies below the controls it frames.
    {ids::kLoginGroup, ControlKind::GroupBox, "", nullptr, 120, 70, 340, 220},
    {ids::kIpLabel, ControlKind::Static, "I P:", nullptr, 160, 110, 50, 30},
    {ids::kIpAddress, ControlKind::IpAddress, "", nullptr, 220, 110, 200, 30},
    {ids::kLogin, ControlKind::Button, "登录", "Login", 180, 180, 80, 30},
    {ids::kExit, ControlKind::Button, "退出", "Cancel", 300, 180, 80, 30},
    {ids::kStatus, ControlKind::StaticCentered, "未连接", "Not Connect", 200, 230, 140, 50},
    {ids::kRadioChinese, ControlKind::RadioButton, "中文", nullptr, 490, 300, 80, 25},
    {ids::kRadioEnglish, ControlKind::RadioButton, " E N", nullptr, 490, 325, 80, 25},
}};

const std::array<ControlSpec, 11> kMainControls = {{
    {ids::kView2d, ControlKind::ImageArea, "", nullptr, 40, 10, 640, 480},
    {ids::kView3d, ControlKind::ImageArea, "", nullptr, 700, 10, 640, 480},
    {ids::kReadout, ControlKind::ReadOnlyEdit, "", nullptr, 40, 510, 1300, 100},
    {ids::kOpenStream, ControlKind::Button, "打开流", "open stream", 40, 630, 426, 50},
    {ids::kOpen3d, ControlKind::Button, "打开3V模式", "open 3Dstream", 476, 630, 426, 50},
    {ids::kOpenObjInfo, ControlKind::Button, "打开目标显示", "open obj info", 912, 630, 426, 50},
    {ids::kAlarmPanel, ControlKind::ReadOnlyEdit, "", nullptr, 1370, 10, 290, 480},
    {ids::kForwardSwipe, ControlKind::Button, "正向刷卡", "Forward Swipe", 1370, 500, 290, 30},
    {ids::kReverseSwipe, ControlKind::Button, "逆向刷卡", "Reverse Swipe", 1370, 540, 290, 30},
    {ids::kCancelSwipe, ControlKind::Button, "清空刷卡", "Clear Swipe", 1370, 580, 290, 30},
    {ids::kClearAlarm, ControlKind::Button, "清空告警显示", "Clear Show", 1370, 620, 290, 30},
}};

const std::array<MenuSpec, 28> kMainMenu = {{
    {0, "帮助/help", nullptr, 0},
    {1, "系统信息", "sysinfo", ids::kCmdSysInfo},
    {0, "告警调试", "test warn(no Gate use)", 0},
    {1, "打开", "open", ids::kCmdAlarmOpen},
    {1, "打开接收", "open recv(not use)", ids::kCmdAlarmOpenRecv},
    {0, "配准", "reg", 0},
    {1, "打开点云配准", "open point reg", ids::kCmdPointReg},
    {1, "打开RGB配准", "open rgb reg(not use)", ids::kCmdRgbReg},
    {0, "数据采集", "data collect", 0},
    {1, "打开数据存储", "open data collect", ids::kCmdDataCollectOpen},
    {1, "关闭数据存储", "close data collect", ids::kCmdDataCollectClose},
    {1, "导出点云(PLY)", "export cloud (PLY)", ids::kCmdExportPly},
    {1, "回放数据文件", "replay file", ids::kCmdReplayFile},
    {0, "升级更新", "update", 0},
    {1, "版本升级更新", "update file", ids::kCmdUpdateFile},
    {1, "获取当前版本", "get now version", ids::kCmdGetVersion},
    {1, "获取历史版本", "get his version(not use)", ids::kCmdHisVersion},
    {1, "版本回撤", "version rollback(not use)", ids::kCmdRollback},
    {0, "算法目标显示", "show alg obj", 0},
    {1, "打开算法显示", "open show alg obj", ids::kCmdAlgShowOpen},
    {1, "关闭算法显示", "close show alg obj", ids::kCmdAlgShowClose},
    {0, "设备配置", "device set", 0},
    {1, "重启设备", "reset device", ids::kCmdResetDevice},
    {1, "设备IP配置", "set device ip", ids::kCmdSetDeviceIp},
    {1, "数据外接配置", "set data inter", 0},
    {2, "基础版本", "Basic", ids::kCmdInterBasic},
    {2, "事件版本", "Event", ids::kCmdInterEvent},
    {1, "背景生成", "gen background", ids::kCmdGenBackground},
}};
