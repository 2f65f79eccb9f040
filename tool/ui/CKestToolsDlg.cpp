#include "ui/CKestToolsDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/ProcessExit.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/FrameDistributor.h"
#include "core/SharedState.h"
#include "core/Trace.h"
#include "platform/PictureView.h"
#include "platform/QtControlSink.h"
#include "platform/QtPrompt.h"
#include "ui/CAboutDlg.h"
#include "ui/DialogResources.h"
#include "ui/ReplayBar.h"
#include "views/ReplayPlayer.h"

namespace {

// Every command id with a handler. 32791 (system information) and 32775 (RGB
// registration) have none and do nothing.
struct CommandEntry {
    int id;
    void (CKestToolsDlg::*handler)();
};

const CommandEntry kCommandTable[] = {
    {ids::kOpenStream, &CKestToolsDlg::OnOpenStream},
    {ids::kOpen3d, &CKestToolsDlg::OnOpen3D},
    {ids::kOpenObjInfo, &CKestToolsDlg::OnOpenObjInfo},
    {ids::kForwardSwipe, &CKestToolsDlg::OnForwardSwipe},
    {ids::kReverseSwipe, &CKestToolsDlg::OnReverseSwipe},
    {ids::kCancelSwipe, &CKestToolsDlg::OnCancelSwipe},
    {ids::kClearAlarm, &CKestToolsDlg::OnClearAlarmDisplay},
    {ids::kCmdAlarmOpen, &CKestToolsDlg::OnOpenAlarmLink},
    {ids::kCmdAlarmOpenRecv, &CKestToolsDlg::OnOpenAlarmReceive},
    {ids::kCmdPointReg, &CKestToolsDlg::OnPointRegistration},
    {ids::kCmdDataCollectOpen, &CKestToolsDlg::OnDataCollectOpen},
    {ids::kCmdDataCollectClose, &CKestToolsDlg::OnDataCollectClose},
    {ids::kCmdExportPly, &CKestToolsDlg::OnExportPly},
    {ids::kCmdReplayFile, &CKestToolsDlg::OnReplayFile},
    {ids::kCmdUpdateFile, &CKestToolsDlg::OnUpdateFile},
    {ids::kCmdGetVersion, &CKestToolsDlg::OnGetVersion},
    {ids::kCmdHisVersion, &CKestToolsDlg::OnGetHisVersion},
    {ids::kCmdRollback, &CKestToolsDlg::OnRollbackVersion},
    {ids::kCmdAlgShowOpen, &CKestToolsDlg::OnAlgShowOpen},
    {ids::kCmdAlgShowClose, &CKestToolsDlg::OnAlgShowClose},
    {ids::kCmdResetDevice, &CKestToolsDlg::OnResetDevice},
    {ids::kCmdSetDeviceIp, &CKestToolsDlg::OnSetDeviceIp},
    {ids::kCmdInterBasic, &CKestToolsDlg::OnInterBasic},
    {ids::kCmdInterEvent, &CKestToolsDlg::OnInterEvent},
    {ids::kCmdGenBackground, &CKestToolsDlg::OnGenBackground},
    {ids::kCmdAbout, &CKestToolsDlg::OnAbout},
};

// Point size of the readout's font.
constexpr int kReadoutFontPoints = 20;
// Point size of the alarm panel's font: a whole time-stamped line fits its width.
constexpr int kAlarmPanelFontPoints = 9;
// Background of an image area before its first picture.
const QColor kEmptyViewColour(64, 64, 64);

}  // namespace

CKestToolsDlg::CKestToolsDlg(SharedState& state, QWidget* parent)
    : QDialog(parent),
      m_state(state),
      m_sink(std::make_unique<QtControlSink>()),
      m_qtPrompt(std::make_unique<QtPrompt>(this)),
      m_prompt(m_qtPrompt.get()),
      m_processEnder([](int status) { EndProcess(status); }) {
    OnInitDialog();
}

CKestToolsDlg::CKestToolsDlg(QWidget* parent) : CKestToolsDlg(SharedState::instance(), parent) {}

CKestToolsDlg::~CKestToolsDlg() {
    g_appClosing = true;
    m_replay.reset();  // it hands records to m_frames until it ends
    m_frames.stopWorkers();
    if (m_distributor.joinable()) m_distributor.join();
    for (std::thread& worker : m_workers)
        if (worker.joinable()) worker.join();
    if (qApp) qApp->removeEventFilter(this);
}

void CKestToolsDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("KestTools"));
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    resize(kMainWidth, kMainHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildMenu();
    layout->setMenuBar(m_menuBar);
    // Control positions are client pixels below the menu bar.
    auto* client = new QWidget(this);
    layout->addWidget(client, 1);

    m_distributor = std::thread(RunFrameDistributor, std::ref(m_state), std::ref(m_frames));

    buildControls(client);
    ShowAlarmPanel(0);

    if (!g_uiChinese) applyEnglishTexts();
    // Place the client area below the menu bar now, not only when first shown.
    layout->activate();

    // Escape is watched for every widget of this window (see eventFilter).
    qApp->installEventFilter(this);
}

void CKestToolsDlg::buildControls(QWidget* client) {
    QFont readoutFont(QStringLiteral("Arial"));
    readoutFont.setPointSize(kReadoutFontPoints);
    for (const ControlSpec& item : kMainControls) {
        const QString text = QString::fromUtf8(item.chinese);
        QWidget* widget = nullptr;
        switch (item.kind) {
            case ControlKind::ImageArea: {
                // No frame: a picture of the control's size fills it exactly.
                widget = new PictureView(kEmptyViewColour, client);
                break;
            }
            case ControlKind::ReadOnlyEdit: {
                auto* edit = new QPlainTextEdit(client);
                edit->setReadOnly(true);
                if (item.id == ids::kReadout) edit->setFont(readoutFont);
                if (item.id == ids::kAlarmPanel) {
                    // One line per event: the panel scrolls sideways rather than wrapping.
                    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
                    QFont panelFont = edit->font();
                    panelFont.setPointSize(kAlarmPanelFontPoints);
                    edit->setFont(panelFont);
                }
                widget = edit;
                break;
            }
            case ControlKind::Button: {
                auto* button = new QPushButton(text, client);
                // Enter presses no button of the main window.
                button->setAutoDefault(false);
                const int id = item.id;
                connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
                widget = button;
                break;
            }
            default:
                continue;
        }
        widget->setGeometry(item.x, item.y, item.w, item.h);
        m_controls[item.id] = widget;
        m_sink->addControl(item.id, widget, item.w, item.h);
    }
    m_replayBar = new ReplayBar(client);
    m_replayBar->setGeometry(kReplayBarX, kReplayBarY, kReplayBarWidth, kReplayBarHeight);
    m_replayBar->hide();
    m_controls[ids::kReplayBar] = m_replayBar;
    for (int id : {ids::kReplayBack, ids::kReplayPlay, ids::kReplayForward, ids::kReplaySpeed,
                   ids::kReplaySlider, ids::kReplayPosition, ids::kReplayClose})
        m_controls[id] = m_replayBar->control(id);
}

void CKestToolsDlg::buildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* parents[3] = {nullptr, nullptr, nullptr};
    QMenu* helpMenu = nullptr;
    for (const MenuSpec& item : kMainMenu) {
        const QString text = QString::fromUtf8(item.chinese);
        QAction* action = nullptr;
        if (item.command == 0) {
            QMenu* menu =
                item.depth == 0 ? m_menuBar->addMenu(text) : parents[item.depth - 1]->addMenu(text);
            parents[item.depth] = menu;
            if (!helpMenu) helpMenu = menu;
            action = menu->menuAction();
        } else {
            action = parents[item.depth - 1]->addAction(text);
            const int id = item.command;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
            m_actions[id] = action;
        }
        if (item.english) m_menuTexts.emplace_back(action, &item);
    }
    // The about box sits under the help menu, after a separator.
    helpMenu->addSeparator();
    QAction* about = helpMenu->addAction(QString::fromUtf8(kAboutItemText));
    connect(about, &QAction::triggered, this, [this] { OnCommand(ids::kCmdAbout); });
    m_actions[ids::kCmdAbout] = about;
}

void CKestToolsDlg::applyEnglishTexts() {
    for (const auto& item : m_menuTexts)
        item.first->setText(QString::fromUtf8(item.second->english));
    for (const ControlSpec& item : kMainControls) {
        if (!item.english) continue;
        if (auto* button = qobject_cast<QPushButton*>(control(item.id)))
            button->setText(QString::fromUtf8(item.english));
    }
    m_menuBar->update();
}

bool CKestToolsDlg::OnCommand(int id) {
    for (const CommandEntry& entry : kCommandTable) {
        if (entry.id == id) {
            (this->*entry.handler)();
            return true;
        }
    }
    return false;
}

void CKestToolsDlg::ShowAlarmPanel(int show) {
    tracef("state = %d\n", show);
    const bool visible = show != 0;
    for (int id : {ids::kAlarmPanel, ids::kForwardSwipe, ids::kReverseSwipe, ids::kCancelSwipe,
                   ids::kClearAlarm}) {
        QWidget* widget = control(id);
        widget->setVisible(visible);
        if (id != ids::kAlarmPanel) widget->setEnabled(visible);
    }
}

QWidget* CKestToolsDlg::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QAction* CKestToolsDlg::menuAction(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

ControlSink& CKestToolsDlg::sink() {
    return *m_sink;
}

Prompt& CKestToolsDlg::prompt() {
    return *m_prompt;
}

void CKestToolsDlg::setPrompt(Prompt* prompt) {
    m_prompt = prompt ? prompt : m_qtPrompt.get();
}

void CKestToolsDlg::setDialogRunner(DialogRunner runner) {
    m_dialogRunner = std::move(runner);
}

int CKestToolsDlg::runModal(QDialog& dialog) {
    return m_dialogRunner ? m_dialogRunner(dialog) : dialog.exec();
}

void CKestToolsDlg::setProcessEnder(ProcessEnder ender) {
    m_processEnder = std::move(ender);
}

void CKestToolsDlg::closeEvent(QCloseEvent* event) {
    if (!closeDuringWork()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CKestToolsDlg::startWorker(std::function<void()> body) {
    m_workers.emplace_back(std::move(body));
}

void CKestToolsDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

bool CKestToolsDlg::eventFilter(QObject* watched, QEvent* event) {
    // Escape never closes the main window: it asks the algorithm object
    // display to stop. The close box (and Alt+F4) still close it.
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            m_algShowStop = 1;
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
