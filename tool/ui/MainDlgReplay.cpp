// 数据采集 → 回放数据文件: a recording made with 打开数据存储 played back in the
// 2D view (and the 3D view when it is on) with the player bar below the
// views. The file dialog picks a record file; when its folder holds other
// files too, a question offers the whole folder in name order (which is time
// order). The records are indexed off the GUI thread, and read one at a time
// by the player's own thread.
#include <QAction>
#include <QPointer>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/Trace.h"
#include "platform/Prompt.h"
#include "platform/WhileResponsive.h"
#include "stream/RecordPlaylist.h"
#include "ui/CKestToolsDlg.h"
#include "ui/ReplayBar.h"
#include "views/ReplayPlayer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordFilter = "Record files (*.bin);;All files (*)";

// True when the folder of the file holds another regular file.
bool hasNeighbours(const std::string& file) {
    std::error_code ec;
    const fs::path self(file);
    for (fs::directory_iterator it(self.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename() != self.filename() && it->is_regular_file(ec)) return true;
    }
    return false;
}

}  // namespace

void CKestToolsDlg::OnReplayFile() {
    if (m_replayOpening) return;
    const std::string chosen =
        prompt().openFile(uiText("回放数据文件", "replay file"), kRecordFilter);
    if (chosen.empty()) return;
    std::string path = chosen;
    std::error_code ec;
    if (!fs::is_directory(chosen, ec) && hasNeighbours(chosen) &&
        prompt().messageBox(uiText("回放该文件夹中的全部数据文件（按文件名顺序）？\n"
                                   "选“否”只回放所选的文件。",
                                   "Play every record file of its folder, in name order?\n"
                                   "No plays the chosen file only."),
                            kAppTitle, PromptButtons::YesNo, PromptIcon::Question) == kAnswerYes)
        path = fs::path(chosen).parent_path().string();

    QAction* item = menuAction(ids::kCmdReplayFile);
    m_replayOpening = true;
    if (item) item->setEnabled(false);
    auto playlist = std::make_unique<RecordPlaylist>();
    RecordPlaylist::Refusal refusal = RecordPlaylist::Refusal::Unreadable;
    runWhileResponsive([&] { refusal = playlist->open(path); });
    if (item) item->setEnabled(true);
    m_replayOpening = false;
    if (m_closedDuringWork) return;  // the window is gone

    if (refusal != RecordPlaylist::Refusal::None) {
        const std::string why = replayRefusalText(
            refusal, playlist->refusedPath().empty() ? path : playlist->refusedPath());
        tracef("replay refused: %s\n", path.c_str());
        prompt().messageBox(why, kAppTitle, PromptButtons::Ok, PromptIcon::Warning);
        return;
    }
    traceReplayOpened(*playlist);

    // A recording already playing gives way to the new one.
    CloseReplay();
    // The records are drawn by the 2D view, and the readout says what plays:
    // both start as their buttons would start them.
    CKestToolsDlg::OnOpenStream();
    CKestToolsDlg::OnOpenObjInfo();

    const unsigned generation = ++m_replayGeneration;
    const QPointer<ReplayBar> bar(m_replayBar);
    auto report = [this, bar, generation](const ReplayState& state) {
        QMetaObject::invokeMethod(
            bar.data(),
            [this, bar, generation, state] {
                if (bar && generation == m_replayGeneration && m_replay) bar->showState(state);
            },
            Qt::QueuedConnection);
    };
    m_replay = std::make_unique<ReplayPlayer>(std::move(playlist), m_frames, report);
    m_replayBar->onTogglePlay = [this] { m_replay->togglePlay(); };
    m_replayBar->onStep = [this](long delta) { m_replay->step(delta); };
    m_replayBar->onSeek = [this](size_t record) { m_replay->seek(record); };
    m_replayBar->onSpeed = [this](double speed) { m_replay->setSpeed(speed); };
    m_replayBar->onClose = [this] { CloseReplay(); };
    // It plays at once, from the first record, as a live stream would.
    m_replay->play();
    m_replayBar->showState(m_replay->state());
    m_replayBar->show();
}

void CKestToolsDlg::CloseReplay() {
    if (!m_replay) return;
    m_replay.reset();
    ++m_replayGeneration;
    m_replayBar->hide();
    tracef("replay closed\n");
}
