// Stream view buttons of the main dialog: 打开流 (1000) starts the 2D top view,
// 打开3V模式 (1001) the 3D view, 打开目标显示 (1002) the object readout. Each
// starts its worker once; a second press does nothing.
#include "ui/CKestToolsDlg.h"
#include "views/ReadoutWorker.h"
#include "views/TopViewWorker.h"

void CKestToolsDlg::OnOpenStream() {
    if (m_2dStarted) return;
    m_2dStarted = true;
    startWorker([this] { Run2DWorker(frames(), sink()); });
}

void CKestToolsDlg::OnOpen3D() {
    if (m_3dStarted) return;
    m_3dStarted = true;
    Start3DView();
}

void CKestToolsDlg::OnOpenObjInfo() {
    if (m_readoutStarted) return;
    m_readoutStarted = true;
    startWorker([this] { RunReadoutWorker(frames(), sink()); });
}
