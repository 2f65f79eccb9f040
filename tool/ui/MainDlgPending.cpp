// Menu commands of features that are built later; each handler is filled by
// the feature named beside it. Commands 32791 (system information) and 32775
// (RGB registration) have no handler at all and do nothing.
#include "ui/CKestToolsDlg.h"

void CKestToolsDlg::OnDataCollectOpen() {}    // 32774: data recorder, started once
void CKestToolsDlg::OnDataCollectClose() {}   // 32790: data recorder stop request
void CKestToolsDlg::OnAlgShowOpen() {}        // 32776: algorithm object display (access code)
void CKestToolsDlg::OnAlgShowClose() {}       // 32789: algorithm object display, posts Escape
