// The player bar of a recording played back, below the views: one record
// back, play/pause, one record forward, the speed, a slider over the records
// and the shown record's time (UTC+8) and number, and the button that closes
// the player. It only shows what the player reports and passes the
// engineer's commands on; the playing itself is ReplayPlayer's.
#pragma once

#include <QWidget>
#include <cstddef>
#include <functional>
#include <map>

#include "views/ReplayPlayer.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

class ReplayBar : public QWidget {
    Q_OBJECT

public:
    explicit ReplayBar(QWidget* parent);

    // The engineer's commands; set by the window that owns the player.
    std::function<void()> onTogglePlay;
    std::function<void(long delta)> onStep;
    std::function<void(size_t record)> onSeek;
    std::function<void(double speed)> onSpeed;
    std::function<void()> onClose;

    // Shows where the playing stands (GUI thread).
    void showState(const ReplayState& state);
    // A widget of the bar by its id (ids::kReplayBack ... kReplayClose).
    QWidget* control(int id) const;
    // Captions in the interface language.
    void applyLanguage();

private:
    QPushButton* m_back = nullptr;
    QPushButton* m_play = nullptr;
    QPushButton* m_forward = nullptr;
    QComboBox* m_speed = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_position = nullptr;
    QPushButton* m_close = nullptr;
    std::map<int, QWidget*> m_controls;
    bool m_playing = false;
};
