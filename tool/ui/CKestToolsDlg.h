// The tool's main window: two image areas, the object readout, the three
// stream buttons, the alarm panel with its card-swipe buttons, and the menu bar
// from which every other feature starts. It owns the frame copies that the
// view workers share and dispatches every command id to its handler.
//
// The handlers of each feature live in their own file (MainDlgStream.cpp,
// MainDlgGate.cpp, MainDlgRecorder.cpp, MainDlgView3d.cpp,
// MainDlgRegistration.cpp, MainDlgMaintenance.cpp); this class only wires them up.
#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "algview/AlgViewer.h"
#include "core/ViewFrames.h"
#include "maintenance/MaintenanceCommands.h"
#include "platform/Prompt.h"
#include "stream/DataRecorder.h"
#include "views/Cloud3d.h"

class Prompt;
class QtPrompt;
class QMenuBar;
class QWidget;
class QAction;
class SharedState;
class QtControlSink;
class ControlSink;
struct MenuSpec;
class View3dWidget;
class ReplayBar;
class ReplayPlayer;

class CKestToolsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CKestToolsDlg(SharedState& state, QWidget* parent = nullptr);
    // Uses the process-wide SharedState.
    explicit CKestToolsDlg(QWidget* parent = nullptr);
    // Raises g_appClosing, stops the frame distributor and the view workers and
    // joins them.
    ~CKestToolsDlg() override;

    // Runs the handler of a menu command or button id; false for ids that have
    // no handler (32791 system information, 32775 RGB registration and unknown ids).
    bool OnCommand(int id);

    // Shows (non-zero) or hides (zero) the alarm panel and its four buttons.
    void ShowAlarmPanel(int show);

    // Widget of a control id of the layout table, nullptr for other ids.
    QWidget* control(int id) const;
    // Menu action of a command id, nullptr for ids that are not in the menu.
    QAction* menuAction(int id) const;
    QMenuBar* menuBar() const { return m_menuBar; }

    ViewFrames& frames() { return m_frames; }
    SharedState& sharedState() { return m_state; }
    ControlSink& sink();
    // Threads started by the dialog besides the frame distributor.
    size_t workerCount() const { return m_workers.size(); }

    // Message boxes and file dialogs of the window's commands; tests put a
    // scripted prompt in (nullptr restores the Qt one).
    Prompt& prompt();
    void setPrompt(Prompt* prompt);
    // Runs a command's dialog modally and returns its result; tests drive
    // the dialog through its handlers instead of exec().
    using DialogRunner = std::function<int(QDialog&)>;
    void setDialogRunner(DialogRunner runner);
    int runModal(QDialog& dialog);
    // Ends the process when the window is closed during a device exchange
    // that cannot be interrupted; tests put in one that only records the
    // call (the default never returns).
    using ProcessEnder = std::function<void(int status)>;
    void setProcessEnder(ProcessEnder ender);

    // Data recorder and algorithm object display (MainDlgRecorder.cpp). Their
    // threads are detached and may outlive the dialog, so they share these.
    std::shared_ptr<RecorderControl> m_record = std::make_shared<RecorderControl>();
    std::shared_ptr<AlgViewControl> m_algShow = std::make_shared<AlgViewControl>();
    // Set to 1 by the Escape key; read by the algorithm object display.
    std::atomic<int32_t>& m_algShowStop = m_algShow->m_algShowStop;
    // Where the display's pictures go (the "AlgObj" window unless a test sets one).
    std::shared_ptr<PictureWindow> m_algWindow;
    // The 3D view of control 1004 (MainDlgView3d.cpp), made by the 3D button.
    std::shared_ptr<Cloud3dShare> m_3d = std::make_shared<Cloud3dShare>();
    View3dWidget* view3d() const { return m_view3d; }

    // --- Handlers. Virtual so that tests can observe the dispatch. ---
    // Stream views (MainDlgStream.cpp).
    virtual void OnOpenStream();
    virtual void OnOpen3D();
    virtual void OnOpenObjInfo();
    // Gate linkage and alarm panel (MainDlgGate.cpp).
    virtual void OnOpenAlarmLink();
    virtual void OnOpenAlarmReceive();
    virtual void OnForwardSwipe();
    virtual void OnReverseSwipe();
    virtual void OnCancelSwipe();
    virtual void OnClearAlarmDisplay();
    // Data recorder and algorithm object display (MainDlgRecorder.cpp).
    virtual void OnDataCollectOpen();
    virtual void OnDataCollectClose();
    // The newest live frame saved as a PLY file (MainDlgExport.cpp).
    virtual void OnExportPly();
    // A recording played back in the views with the player bar (MainDlgReplay.cpp).
    virtual void OnReplayFile();
    // Closes the player: the live frames are drawn again.
    void CloseReplay();
    ReplayPlayer* replayPlayer() const { return m_replay.get(); }
    ReplayBar* replayBar() const { return m_replayBar; }
    virtual void OnAlgShowOpen();
    virtual void OnAlgShowClose();
    // Registration (MainDlgRegistration.cpp).
    virtual void OnPointRegistration();
    // Device maintenance (MainDlgMaintenance.cpp).
    virtual void OnUpdateFile();
    virtual void OnGetVersion();
    virtual void OnGetHisVersion();
    virtual void OnRollbackVersion();
    virtual void OnResetDevice();
    virtual void OnSetDeviceIp();
    virtual void OnInterBasic();
    virtual void OnInterEvent();
    virtual void OnGenBackground();
    // Help menu: the about box.
    virtual void OnAbout();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The close box and Alt+F4; during long work see closeDuringWork.
    void closeEvent(QCloseEvent* event) override;

    // Starts a thread that the dialog joins when it goes away (after
    // m_frames.stop has been requested): the thread must end on that flag.
    void startWorker(std::function<void()> body);

    // Start-once flags of the stream buttons.
    bool m_2dStarted = false;
    bool m_3dStarted = false;
    bool m_readoutStarted = false;
    // The gate-linkage link has been started (menu 32772 or 32795).
    bool alarmLinkStarted = false;
    // A maintenance exchange is running: its menu entries are disabled.
    bool m_maintenanceBusy = false;
    // An upgrade package is on its way and not yet sent whole (written by the
    // exchange's thread).
    std::atomic<bool> m_upgradeSending{false};
    // A PLY file is being written (MainDlgExport.cpp).
    bool m_exportBusy = false;
    // A recording is being opened (its records indexed; MainDlgReplay.cpp).
    bool m_replayOpening = false;
    // The window was closed while long work ran: that work's result is not
    // shown.
    bool m_closedDuringWork = false;
    // Puts the 3D view in control 1004 and starts the 3D worker (MainDlgView3d.cpp).
    void Start3DView();

private:
    void OnInitDialog();
    void buildControls(QWidget* client);
    void buildMenu();
    void applyEnglishTexts();
    // Maintenance helpers (MainDlgMaintenance.cpp).
    void showBox(const char* text);
    void setMaintenanceBusy(bool busy);
    void runFileServerCommand(FileCommand command, const Request& request);
    // Whether a close of the window goes on while long work runs: asks first
    // during an upgrade send, ends the process during any other exchange.
    bool closeDuringWork();

    SharedState& m_state;
    ViewFrames m_frames;
    std::unique_ptr<QtControlSink> m_sink;
    std::unique_ptr<QtPrompt> m_qtPrompt;
    Prompt* m_prompt = nullptr;
    DialogRunner m_dialogRunner;
    ProcessEnder m_processEnder;
    QMenuBar* m_menuBar = nullptr;
    std::map<int, QWidget*> m_controls;
    std::map<int, QAction*> m_actions;
    // Menu items (and popups) with an English text, for the language switch.
    std::vector<std::pair<QAction*, const MenuSpec*>> m_menuTexts;
    View3dWidget* m_view3d = nullptr;
    // The recording playing back and its bar (hidden while none plays).
    std::unique_ptr<ReplayPlayer> m_replay;
    ReplayBar* m_replayBar = nullptr;
    // Counts the players opened, so that a late report of a closed one is
    // not shown on the bar of the next.
    unsigned m_replayGeneration = 0;
    std::thread m_distributor;
    std::vector<std::thread> m_workers;
};
