#include "app/KestraboleDlg.h"

long CKestraboleDlg::OnTrayNotify(uint32_t, uint32_t) { return 0; }

long CKestraboleDlg::OnTrayHide(uint32_t, uint32_t) { return 1; }

long CKestraboleDlg::OnTrayRestore(uint32_t, uint32_t) { return 1; }

void CKestraboleDlg::PrepareTrayIcon() {}
