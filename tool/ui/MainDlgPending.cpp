// Menu commands of features that are built later; each handler is filled by
// the feature named beside it. Commands 32791 (system information) and 32775
// (RGB registration) have no handler at all and do nothing.
#include "ui/CKestToolsDlg.h"

void CKestToolsDlg::OnPointRegistration() {}  // 32773: registration client and dialog
void CKestToolsDlg::OnUpdateFile() {}         // 32778: upgrade dialog and transfer
void CKestToolsDlg::OnGetVersion() {}         // 32781: version query and display
void CKestToolsDlg::OnGetHisVersion() {}      // 32793: upgrade feature, not-supported message
void CKestToolsDlg::OnRollbackVersion() {}    // 32794: upgrade feature, not-supported message
void CKestToolsDlg::OnResetDevice() {}        // 32784: device config, reboot command
void CKestToolsDlg::OnSetDeviceIp() {}        // 32785: device config, IP dialog and command
void CKestToolsDlg::OnInterBasic() {}         // 32787: device config, external interface dialog
void CKestToolsDlg::OnInterEvent() {}         // 32788: device config, event version message
void CKestToolsDlg::OnGenBackground() {}      // 32792: device config, background command
