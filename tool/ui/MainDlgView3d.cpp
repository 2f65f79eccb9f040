// The 3D mode of the main dialog (button 1001, 打开3V模式): the right image
// area (control 1004) becomes a live OpenGL view of the passage, fed by the
// 3D worker from the same frame copies as the 2D view.
#include "core/ControlIds.h"
#include "ui/CKestToolsDlg.h"
#include "ui/View3dWidget.h"
#include "views/View3dWorker.h"

void CKestToolsDlg::Start3DView() {
    QWidget* area = control(ids::kView3d);
    if (area && !m_view3d) {
        // A child of the image area, filling it: it moves and hides with it.
        m_view3d = new View3dWidget(m_3d, area);
        m_view3d->setGeometry(0, 0, area->width(), area->height());
        m_view3d->show();
    }
    startWorker([this, share = m_3d] { Run3DWorker(frames(), *share); });
}
