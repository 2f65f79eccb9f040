#include "ui/ReplayBar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "core/ControlIds.h"
#include "core/Flags.h"

namespace {
// Room for "2025-03-04 09:05:07_042  #5001 / 5001".
constexpr int kPositionWidth = 300;
constexpr int kButtonWidth = 110;
constexpr int kSpeedWidth = 80;

QString speedText(double speed) {
    return QStringLiteral("x") + QString::number(speed, 'g', 3);
}
}  // namespace

ReplayBar::ReplayBar(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    m_back = new QPushButton(this);
    m_play = new QPushButton(this);
    m_forward = new QPushButton(this);
    m_speed = new QComboBox(this);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_position = new QLabel(this);
    m_close = new QPushButton(this);
    for (QPushButton* button : {m_back, m_play, m_forward, m_close}) {
        button->setAutoDefault(false);
        button->setFixedWidth(kButtonWidth);
    }
    for (double speed : kReplaySpeeds) m_speed->addItem(speedText(speed), speed);
    m_speed->setFixedWidth(kSpeedWidth);
    m_slider->setRange(0, 0);
    m_position->setFixedWidth(kPositionWidth);
    m_position->setAlignment(Qt::AlignCenter);

    row->addWidget(m_back);
    row->addWidget(m_play);
    row->addWidget(m_forward);
    row->addWidget(m_speed);
    row->addWidget(m_slider, 1);
    row->addWidget(m_position);
    row->addWidget(m_close);
    m_controls = {{ids::kReplayBack, m_back},       {ids::kReplayPlay, m_play},
                  {ids::kReplayForward, m_forward}, {ids::kReplaySpeed, m_speed},
                  {ids::kReplaySlider, m_slider},   {ids::kReplayPosition, m_position},
                  {ids::kReplayClose, m_close}};

    connect(m_back, &QPushButton::clicked, this, [this] {
        if (onStep) onStep(-1);
    });
    connect(m_forward, &QPushButton::clicked, this, [this] {
        if (onStep) onStep(1);
    });
    connect(m_play, &QPushButton::clicked, this, [this] {
        if (onTogglePlay) onTogglePlay();
    });
    connect(m_close, &QPushButton::clicked, this, [this] {
        if (onClose) onClose();
    });
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (onSeek && value >= 0) onSeek(static_cast<size_t>(value));
    });
    connect(m_speed, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (onSpeed && index >= 0) onSpeed(m_speed->itemData(index).toDouble());
    });
    m_speed->setCurrentIndex(m_speed->findData(1.0));
    applyLanguage();
}

void ReplayBar::applyLanguage() {
    m_back->setText(QString::fromUtf8(uiText("上一条", "back")));
    m_forward->setText(QString::fromUtf8(uiText("下一条", "forward")));
    m_play->setText(
        QString::fromUtf8(m_playing ? uiText("暂停", "pause") : uiText("播放", "play")));
    m_close->setText(QString::fromUtf8(uiText("关闭回放", "close replay")));
}

void ReplayBar::showState(const ReplayState& state) {
    m_playing = state.playing;
    applyLanguage();
    {
        // What the player reports is no command of the engineer.
        const QSignalBlocker quiet(m_slider);
        m_slider->setRange(0, state.count > 0 ? static_cast<int>(state.count - 1) : 0);
        // While the engineer drags, the slider stays where the hand is.
        if (!m_slider->isSliderDown()) m_slider->setValue(static_cast<int>(state.record));
    }
    {
        const QSignalBlocker quiet(m_speed);
        const int index = m_speed->findData(state.speed);
        if (index >= 0) m_speed->setCurrentIndex(index);
    }
    m_position->setText(QString::fromStdString(replayPositionText(state)));
}

QWidget* ReplayBar::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}
