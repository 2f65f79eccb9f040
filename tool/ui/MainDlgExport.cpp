// 数据采集 → 导出点云(PLY): the newest live frame (or the record of a
// recording playing back), as the 3D view colours it, saved where the
// engineer chooses. The file is written off the GUI thread
// (colouring and writing a whole frame takes longer than a frame of the live
// view); the save dialog and the result box stay on it.
#include <QAction>
#include <mutex>
#include <string>

#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/Trace.h"
#include "platform/Prompt.h"
#include "platform/WhileResponsive.h"
#include "stream/StreamRecords.h"
#include "ui/CKestToolsDlg.h"
#include "views/PlyExport.h"
#include "views/ReplayPlayer.h"

namespace {
constexpr const char* kPlyFilter = "PLY point cloud (*.ply)";
constexpr const char* kSuggestedName = "cloud.ply";
}  // namespace

void CKestToolsDlg::OnExportPly() {
    if (m_exportBusy) return;  // one file at a time
    std::string bytes;         // a copy: the file dialog may stay open for a while
    AreaBlock areas{};
    {
        std::lock_guard<std::mutex> lock(m_frames.m_pointMutex);
        bytes = pointBytesOf(m_frames.m_pointData);
    }
    {
        std::lock_guard<std::mutex> lock(m_frames.m_areaMutex);
        areas = m_frames.m_areas;
    }
    // While a recording plays the views show its record: that one is saved,
    // and the file says so.
    std::string comment = "KestTools live frame";
    if (m_replay)
        comment = "KestTools replayed record #" + std::to_string(m_replay->state().record + 1);
    if (bytes.empty()) {
        showBox(uiText("没有可导出的点云！\n", "no point cloud to export!\n"));
        return;
    }
    const std::string path = prompt().saveFile(uiText("导出点云(PLY)", "export cloud (PLY)"),
                                               kPlyFilter, kSuggestedName);
    if (path.empty()) return;
    QAction* item = menuAction(ids::kCmdExportPly);
    m_exportBusy = true;
    if (item) item->setEnabled(false);
    long written = -1;
    runWhileResponsive([&] {
        written = WritePlyFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                               areas, comment.c_str());
    });
    if (item) item->setEnabled(true);
    m_exportBusy = false;
    if (written < 0) {
        tracef("save cloud [%s] fail!\n", path.c_str());
        if (m_closedDuringWork) return;  // the window is gone
        showBox(uiText("保存点云失败！\n", "save cloud fail!\n"));
        return;
    }
    tracef("save cloud [%s]: %ld points\n", path.c_str(), written);
    if (m_closedDuringWork) return;
    const std::string done = std::string(uiText("点云已保存：", "cloud saved: ")) + path + "\n";
    showBox(done.c_str());
}
