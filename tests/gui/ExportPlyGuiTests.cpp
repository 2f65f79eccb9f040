// 数据采集 → 导出点云(PLY) in the main dialog: the newest frame saved where
// the engineer chose, or the reason why not.
#include <filesystem>

#include "GuiTestSupport.h"
#include "TraceCapture.h"
#include "core/ByteOrder.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/ScriptedPrompt.h"
#include "ui/CKestToolsDlg.h"

namespace {

TEST(ExportPlyGui, SavesTheNewestFrameWhereTheEngineerChose) {
    ScopedTimings timings;
    shortenShellWaits();
    g_uiChinese = false;
    TraceCapture trace;
    TempDir dir;
    SharedState state;
    CKestToolsDlg dlg(state);
    ScriptedPrompt prompt;
    dlg.setPrompt(&prompt);

    dlg.OnCommand(ids::kCmdExportPly);  // no frame yet
    prompt.queueFile("");               // cancelled: nothing written, nothing said
    {
        std::lock_guard<std::mutex> lock(dlg.frames().m_pointMutex);
        std::string block(24, '\0');  // two points at the origin, the second 0.1 m along x
        writeF32le(reinterpret_cast<uint8_t*>(&block[12]), 0.1f);
        dlg.frames().m_pointData = std::make_shared<const std::string>(block);
    }
    {
        std::lock_guard<std::mutex> lock(dlg.frames().m_areaMutex);
        dlg.frames().m_areas[0] = -0.5f, dlg.frames().m_areas[1] = -1.0f;
        dlg.frames().m_areas[2] = 0.5f, dlg.frames().m_areas[3] = 1.0f;
    }
    dlg.OnCommand(ids::kCmdExportPly);
    const std::string path = dir.file("live.ply");
    prompt.queueFile(path);
    dlg.OnCommand(ids::kCmdExportPly);
    prompt.queueFile(dir.file("missing-folder/live.ply"));
    dlg.OnCommand(ids::kCmdExportPly);
    g_uiChinese = true;

    std::vector<std::string> boxes;
    for (const auto& asked : prompt.asked()) boxes.push_back(asked.text);
    EXPECT_EQ(boxes,
              (std::vector<std::string>{"no point cloud to export!\n",
                                        "cloud saved: " + path + "\n", "save cloud fail!\n"}));
    EXPECT_EQ(prompt.fileTitles().size(), 3u);
    EXPECT_NE(readFile(path).find("element vertex 2\n"), std::string::npos);
    EXPECT_NE(trace.out().find("save cloud [" + path + "]: 2 points\n"), std::string::npos);
}

}  // namespace
