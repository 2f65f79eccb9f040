// Control and command ids of the dialogs: the handles that code and tests use.
#pragma once

namespace ids {
// Main dialog controls.
constexpr int kView2d = 1003;
constexpr int kView3d = 1004;
constexpr int kReadout = 1005;
constexpr int kOpenStream = 1000;
constexpr int kOpen3d = 1001;
constexpr int kOpenObjInfo = 1002;
constexpr int kAlarmPanel = 1012;
constexpr int kForwardSwipe = 1013;
constexpr int kReverseSwipe = 1014;
constexpr int kCancelSwipe = 1015;
constexpr int kClearAlarm = 1016;
// The player bar below the views while a recording plays back.
constexpr int kReplayBar = 1100;
constexpr int kReplayBack = 1101;      // one record back
constexpr int kReplayPlay = 1102;      // play / pause
constexpr int kReplayForward = 1103;   // one record forward
constexpr int kReplaySpeed = 1104;     // x0.25 .. x4
constexpr int kReplaySlider = 1105;    // the record shown
constexpr int kReplayPosition = 1106;  // its time and number
constexpr int kReplayClose = 1107;     // back to the live frames

// Login dialog controls.
constexpr int kIpLabel = 1006;
constexpr int kIpAddress = 1007;
constexpr int kLogin = 1008;
constexpr int kExit = 1009;
constexpr int kLoginGroup = 1010;
constexpr int kStatus = 1011;
constexpr int kRadioChinese = 1041;
constexpr int kRadioEnglish = 1042;

// Menu commands of the main dialog.
constexpr int kCmdAbout = 16;
constexpr int kCmdSysInfo = 32791;
constexpr int kCmdAlarmOpen = 32772;
constexpr int kCmdAlarmOpenRecv = 32795;
constexpr int kCmdPointReg = 32773;
constexpr int kCmdRgbReg = 32775;
constexpr int kCmdDataCollectOpen = 32774;
constexpr int kCmdDataCollectClose = 32790;
constexpr int kCmdUpdateFile = 32778;
constexpr int kCmdGetVersion = 32781;
constexpr int kCmdHisVersion = 32793;
constexpr int kCmdRollback = 32794;
constexpr int kCmdAlgShowOpen = 32776;
constexpr int kCmdAlgShowClose = 32789;
constexpr int kCmdResetDevice = 32784;
constexpr int kCmdSetDeviceIp = 32785;
constexpr int kCmdInterBasic = 32787;
constexpr int kCmdInterEvent = 32788;
constexpr int kCmdGenBackground = 32792;
constexpr int kCmdExportPly = 32796;   // the newest live frame as a PLY file
constexpr int kCmdReplayFile = 32797;  // a recording played back in the views
}  // namespace ids
