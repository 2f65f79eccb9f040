#include "ui/CRegData.h"

#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Flags.h"
#include "platform/PictureView.h"
#include "platform/QtControlSink.h"
#include "platform/QtPrompt.h"
#include "ui/RegDataResources.h"
#include "views/DrawMatToControl.h"

using namespace regids;

namespace {

// Button of each adjust command.
struct AdjustEntry {
    int id;
    RegAdjust op;
};
constexpr AdjustEntry kAdjustButtons[] = {
    {kEnlargeLength, RegAdjust::EnlargeLength},
    {kEnlargeWidth, RegAdjust::EnlargeWidth},
    {kShrinkLength, RegAdjust::ShrinkLength},
    {kShrinkWidth, RegAdjust::ShrinkWidth},
    {kMoveUp, RegAdjust::MoveUp},
    {kMoveDown, RegAdjust::MoveDown},
    {kMoveLeft, RegAdjust::MoveLeft},
    {kMoveRight, RegAdjust::MoveRight},
};

// Every other command with its handler.
struct CommandEntry {
    int id;
    void (CRegData::*handler)();
};
const CommandEntry kCommands[] = {
    {kConfirmHeight, &CRegData::OnConfirmHeight},
    {kSkipRotation, &CRegData::OnSkipRotation},
    {kStartRotation, &CRegData::OnStartRotation},
    {kRotateForward, &CRegData::OnRotateForward},
    {kRotateReverse, &CRegData::OnRotateReverse},
    {kConfirmRotation, &CRegData::OnConfirmRotation},
    {kConfirmGate, &CRegData::OnConfirmGate},
    {kShowAreas, &CRegData::OnShowAreas},
    {kZoomIn, &CRegData::OnZoomIn},
    {kZoomOut, &CRegData::OnZoomOut},
    {kAdjustAreas, &CRegData::OnAdjustGate},
    {kAdjustPinch, &CRegData::OnAdjustAntiPinch},
    {kSkipAdjust, &CRegData::OnSwapQuestion},
    {kConfirmAreas, &CRegData::OnSwapQuestion},
    {kFinish, &CRegData::OnFinish},
};

// Rotation and zoom steps of one press.
constexpr float kRotateStepDegrees = 1.0f;
constexpr double kZoomStepMetres = 0.1;

const QColor kEmptyPictureColour(64, 64, 64);
constexpr int kDialogFontPixels = 13;

}  // namespace

CRegData::CRegData(QWidget* parent)
    : QDialog(parent),
      m_sink(std::make_shared<QtControlSink>()),
      m_alive(std::make_shared<std::atomic<bool>>(true)),
      // The swap question must not block the main window either.
      m_ownPrompt(std::make_unique<QtPrompt>(this, QtPrompt::Blocks::OwnerOnly)),
      m_prompt(m_ownPrompt.get()) {
    OnInitDialog();
}

CRegData::~CRegData() {
    *m_alive = false;
    m_steps.waitIdle();
}

void CRegData::OnInitDialog() {
    setWindowTitle(QString::fromUtf8(kRegDataTitleChinese));
    resize(kRegDataWidth, kRegDataHeight);
    // The layout's narrow buttons were made for a small dialog font: the
    // longest captions (生成检测区, 安装高度:) fit at this size.
    QFont dialogFont = font();
    dialogFont.setPixelSize(kDialogFontPixels);
    setFont(dialogFont);

    for (const ControlSpec& item : kRegDataControls) {
        const QString text = QString::fromUtf8(item.chinese);
        QWidget* widget = nullptr;
        switch (item.kind) {
            case ControlKind::GroupBox:
                widget = new QGroupBox(text, this);
                break;
            case ControlKind::Static: {
                auto* label = new QLabel(text, this);
                label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                widget = label;
                break;
            }
            case ControlKind::LineEdit:
                widget = new QLineEdit(this);
                break;
            case ControlKind::Button: {
                auto* button = new QPushButton(text, this);
                // Enter is the dialog's OK, never a press of the focused button.
                button->setAutoDefault(false);
                const int id = item.id;
                connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
                widget = button;
                break;
            }
            case ControlKind::ImageArea: {
                m_picture = new PictureView(kEmptyPictureColour, this);
                widget = m_picture;
                m_sink->addControl(item.id, widget, item.w, item.h);
                break;
            }
            default:
                continue;
        }
        widget->setGeometry(item.x, item.y, item.w, item.h);
        m_controls[item.id] = widget;
    }

    // Only the height and its confirm button respond at first.
    enable({kGateLengthEdit, kGateWidthEdit,   kSkipRotation,  kStartRotation, kShowAreas,
            kSkipAdjust,     kAdjustAreas,     kFinish,        kConfirmGate,   kRotateForward,
            kRotateReverse,  kConfirmRotation, kEnlargeLength, kEnlargeWidth,  kShrinkLength,
            kShrinkWidth,    kMoveUp,          kMoveDown,      kMoveLeft,      kMoveRight,
            kConfirmAreas,   kZoomIn,          kZoomOut,       kAdjustPinch},
           false);
    g_regDialogInitialised = 1;
    qobject_cast<QLineEdit*>(control(kHeightEdit))->setText(QStringLiteral("2.8"));
    qobject_cast<QLineEdit*>(control(kGateLengthEdit))->setText(QStringLiteral("1.4"));
    qobject_cast<QLineEdit*>(control(kGateWidthEdit))->setText(QStringLiteral("0.76"));
    m_bench.geometry.adjustMode = kAdjustNone;

    m_chinese = g_uiChinese.load() ? 1 : 0;
    if (!m_chinese) {
        setWindowTitle(QString::fromUtf8(kRegDataTitleEnglish));
        for (const ControlSpec& item : kRegDataControls) {
            if (!item.english) continue;
            if (auto* button = qobject_cast<QPushButton*>(control(item.id)))
                button->setText(QString::fromUtf8(item.english));
            else if (auto* label = qobject_cast<QLabel*>(control(item.id)))
                label->setText(QString::fromUtf8(item.english));
        }
    }
}

void CRegData::SetPointData(std::vector<RegPoint> points, int width, int height) {
    m_bench.SetPointData(std::move(points), width, height);
    StartRawViewThread(m_bench.rawPoints(), width, height, m_sink, kPicture, m_alive);
}

int CRegData::DoModal() {
    // Not exec(): that would block every other window of the application.
    setWindowModality(Qt::NonModal);
    setResult(0);
    QEventLoop loop;
    const QMetaObject::Connection ended =
        connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec(QEventLoop::DialogExec);
    disconnect(ended);
    // The steps pressed before the end are finished (the result reads what
    // they leave), with the event loop still running meanwhile.
    if (!m_steps.idle()) {
        QEventLoop drain;
        step([&drain] {
            QMetaObject::invokeMethod(
                &drain, [&drain] { drain.quit(); }, Qt::QueuedConnection);
        });
        drain.exec();
    }
    return result() == QDialog::Accepted ? 1 : 2;
}

RegWorkbench& CRegData::workbench() {
    m_steps.waitIdle();
    return m_bench;
}

const RegAreaSet& CRegData::areaSet() {
    return workbench().geometry.areas;
}

int32_t CRegData::adjustMode() {
    return workbench().geometry.adjustMode;
}

int CRegData::activeView() {
    return workbench().activeView;
}

QWidget* CRegData::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

bool CRegData::OnCommand(int id) {
    for (const AdjustEntry& entry : kAdjustButtons) {
        if (entry.id == id) {
            OnAdjustCommand(id);
            return true;
        }
    }
    for (const CommandEntry& entry : kCommands) {
        if (entry.id == id) {
            (this->*entry.handler)();
            return true;
        }
    }
    return false;
}

void CRegData::enable(std::initializer_list<int> ids, bool on) {
    for (int id : ids)
        if (QWidget* w = control(id)) w->setEnabled(on);
}

void CRegData::showPicture(const cv::Mat& picture) {
    if (picture.empty()) {
        // An empty view (no usable height or gate size): nothing is shown.
        // Handed over like every picture, so that it lands after those before it.
        m_sink->clearPicture(kPicture);
        return;
    }
    DrawMatToControl(picture, *m_sink, kPicture);
}

double CRegData::editNumber(int id) const {
    const auto* edit = qobject_cast<QLineEdit*>(control(id));
    return ParseEditNumber(edit ? edit->text().toUtf8().constData() : "");
}

void CRegData::OnRedrawRaw() {
    step([this] { showPicture(m_bench.RenderRaw()); });
}

void CRegData::OnConfirmHeight() {
    const double h = editNumber(kHeightEdit);
    step([this, h] { showPicture(m_bench.ConfirmHeight(h)); });
    enable({kSkipRotation, kStartRotation});
}

void CRegData::OnSkipRotation() {
    enable({kGateLengthEdit, kGateWidthEdit, kConfirmGate});
}

void CRegData::OnStartRotation() {
    enable({kRotateForward, kRotateReverse, kConfirmRotation});
}

void CRegData::OnRotateForward() {
    step([this] { showPicture(m_bench.Rotate(-kRotateStepDegrees)); });
}

void CRegData::OnRotateReverse() {
    step([this] { showPicture(m_bench.Rotate(+kRotateStepDegrees)); });
}

void CRegData::OnConfirmRotation() {
    enable({kGateLengthEdit, kGateWidthEdit, kConfirmGate});
}

void CRegData::OnConfirmGate() {
    const double length = editNumber(kGateLengthEdit);
    const double width = editNumber(kGateWidthEdit);
    step([this, length, width] { m_bench.ConfirmGate(length, width); });
    enable({kShowAreas});
}

void CRegData::OnShowAreas() {
    step([this] { showPicture(m_bench.topPicture()); });
    enable({kSkipAdjust, kAdjustAreas, kAdjustPinch, kZoomIn, kZoomOut});
}

void CRegData::OnZoomIn() {
    step([this] { showPicture(m_bench.Zoom(-kZoomStepMetres)); });
}

void CRegData::OnZoomOut() {
    step([this] { showPicture(m_bench.Zoom(+kZoomStepMetres)); });
}

void CRegData::OnAdjustGate() {
    step([this] { m_bench.geometry.adjustMode = kAdjustGate; });
    enable({kEnlargeLength, kEnlargeWidth, kShrinkLength, kShrinkWidth, kMoveUp, kMoveDown,
            kMoveLeft, kMoveRight, kConfirmAreas});
}

void CRegData::OnAdjustAntiPinch() {
    step([this] { m_bench.geometry.adjustMode = kAdjustAntiPinch; });
    // Only the length of the anti-pinch area can change.
    enable({kEnlargeWidth, kShrinkWidth, kMoveUp, kMoveDown, kMoveLeft, kMoveRight, kConfirmAreas},
           false);
    enable({kEnlargeLength, kShrinkLength, kConfirmAreas});
}

void CRegData::OnAdjustCommand(int id) {
    // A changed area needs a new answer to the swap question before finishing.
    enable({kFinish}, false);
    for (const AdjustEntry& entry : kAdjustButtons) {
        if (entry.id != id) continue;
        const RegAdjust op = entry.op;
        step([this, op] { showPicture(m_bench.Adjust(op)); });
    }
}

void CRegData::OnSwapQuestion() {
    const int answer = m_prompt->messageBox(m_chinese ? kSwapQuestionChinese : kSwapQuestionEnglish,
                                            m_chinese ? kSwapCaptionChinese : kSwapCaptionEnglish,
                                            PromptButtons::YesNo, PromptIcon::Question);
    if (answer == kAnswerYes) step([this] { showPicture(m_bench.Swap()); });
    enable({kFinish});
}

void CRegData::OnFinish() {
    accept();
}

void CRegData::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnFinish();
        return;
    }
    QDialog::keyPressEvent(event);
}
