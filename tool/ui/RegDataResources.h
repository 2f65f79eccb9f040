// Resource table of the registration dialog (配准): control ids, captions in
// both languages and positions in client pixels.
#pragma once

#include <array>

#include "ui/DialogResources.h"

namespace regids {
constexpr int kHeightGroup = 1031;
constexpr int kHeightLabel = 1017;
constexpr int kHeightEdit = 1018;
constexpr int kConfirmHeight = 1021;
constexpr int kRotationGroup = 1032;
constexpr int kSkipRotation = 1022;
constexpr int kStartRotation = 1023;
constexpr int kGateGroup = 1033;
constexpr int kGateLabel = 1019;
constexpr int kGateLengthEdit = 1020;
constexpr int kGateWidthEdit = 1029;
constexpr int kConfirmGate = 1028;
constexpr int kAreasGroup = 1034;
constexpr int kShowAreas = 1024;
constexpr int kZoomIn = 1051;
constexpr int kZoomOut = 1052;
constexpr int kAdjustGroup = 1035;
constexpr int kSkipAdjust = 1025;
constexpr int kAdjustAreas = 1026;
constexpr int kAdjustPinch = 1053;
constexpr int kFinishGroup = 1036;
constexpr int kFinish = 1027;
constexpr int kPicture = 1030;
constexpr int kRotateGroup = 1037;
constexpr int kRotateForward = 1038;
constexpr int kRotateReverse = 1039;
constexpr int kConfirmRotation = 1040;
constexpr int kAdjustButtonsGroup = 1041;
constexpr int kEnlargeLength = 1042;
constexpr int kEnlargeWidth = 1043;
constexpr int kShrinkLength = 1044;
constexpr int kShrinkWidth = 1045;
constexpr int kMoveUp = 1046;
constexpr int kMoveDown = 1047;
constexpr int kMoveLeft = 1048;
constexpr int kMoveRight = 1049;
constexpr int kConfirmAreas = 1050;
}  // namespace regids

constexpr const char* kRegDataTitleChinese = "配准";
constexpr const char* kRegDataTitleEnglish = "Reg";
constexpr int kRegDataWidth = 800;
constexpr int kRegDataHeight = 600;
extern const std::array<ControlSpec, 37> kRegDataControls;

// The swap question in both languages.
constexpr const char* kSwapQuestionChinese = "是否交换12区域位置和45区域位置？";
constexpr const char* kSwapCaptionChinese = "提示";
constexpr const char* kSwapQuestionEnglish = "is change pos 12 area pos to 45 area pos?";
constexpr const char* kSwapCaptionEnglish = "prompt";
