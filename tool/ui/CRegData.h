// The registration dialog (配准): the engineer confirms the installation
// height, may turn the point cloud about the vertical axis, enters the gate's
// length and width, generates and adjusts the five detection areas, answers
// the swap question and finishes. One picture control shows the raw depth
// view, the top view or the zoom view; the work behind each button is done
// by RegWorkbench on the dialog's step thread (point dumps of a 640 x 480 set
// take longer than a frame), which puts its pictures into the control
// itself. This class enables buttons and queues the steps.
//
// The dialog is modal to itself only: it runs its own event loop, and the
// main window stays usable while it is open.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "registration/RegStepQueue.h"
#include "registration/RegWorkbench.h"

class PictureView;
class QLineEdit;
class QKeyEvent;
class QtControlSink;
class Prompt;

class CRegData : public QDialog {
    Q_OBJECT

public:
    explicit CRegData(QWidget* parent = nullptr);
    ~CRegData() override;

    // Takes the run's point set and starts the drawing thread of the raw view.
    void SetPointData(std::vector<RegPoint> points, int width, int height);
    // Runs the dialog in an event loop of its own until it ends: 1 when it
    // ends with OK (完成配准 or Enter), 2 when it is closed any other way.
    // Returns once every step pressed before the end has been done.
    int DoModal();

    // Where the swap question goes (a scripted prompt in tests); by default a
    // message box owned by this dialog. Not owned.
    void setPrompt(Prompt* prompt) { m_prompt = prompt; }

    // Runs the handler of a control id; false for ids without one.
    bool OnCommand(int id);
    // Redraws the raw depth view (the dialog's redraw message).
    void OnRedrawRaw();

    QWidget* control(int id) const;
    // The registration state once every step pressed so far has been done
    // (these wait for the step thread).
    RegWorkbench& workbench();
    const RegAreaSet& areaSet();
    int32_t adjustMode();
    int activeView();
    // True while a pressed step is queued or under way on the step thread.
    bool stepPending() const { return !m_steps.idle(); }

    // --- Handlers, one per button. ---
    void OnConfirmHeight();        // 1021
    void OnSkipRotation();         // 1022
    void OnStartRotation();        // 1023
    void OnRotateForward();        // 1038
    void OnRotateReverse();        // 1039
    void OnConfirmRotation();      // 1040
    void OnConfirmGate();          // 1028
    void OnShowAreas();            // 1024
    void OnZoomIn();               // 1051
    void OnZoomOut();              // 1052
    void OnAdjustGate();           // 1026
    void OnAdjustAntiPinch();      // 1053
    void OnAdjustCommand(int id);  // 1042 to 1049
    void OnSwapQuestion();         // 1025 and 1050
    void OnFinish();               // 1027

protected:
    // Enter is the dialog's OK command, as in every classic dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void enable(std::initializer_list<int> ids, bool on = true);
    // On the step thread: puts picture into the picture control.
    void showPicture(const cv::Mat& picture);
    // Queues work behind the steps pressed before.
    void step(std::function<void()> work) { m_steps.post(std::move(work)); }
    double editNumber(int id) const;

    RegWorkbench m_bench;
    std::shared_ptr<QtControlSink> m_sink;
    // Cleared when the dialog goes; the drawing thread then draws nothing.
    std::shared_ptr<std::atomic<bool>> m_alive;
    std::unique_ptr<Prompt> m_ownPrompt;
    Prompt* m_prompt = nullptr;
    std::map<int, QWidget*> m_controls;
    PictureView* m_picture = nullptr;
    int32_t m_chinese = 1;
    // Last, so that it goes first: no step outlives what it uses.
    RegStepQueue m_steps;
};
