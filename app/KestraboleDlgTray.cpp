#include "app/KestraboleDlg.h"

#include "app/Resources.h"

void CKestraboleDlg::PrepareTrayIcon() {
    m_nid.Prepare(resources::ProgramIcon());
    connect(&m_nid, &TrayIcon::notify, this,
            [this](unsigned, unsigned mouseMessage) { OnTrayNotify(0, mouseMessage); });
}

long CKestraboleDlg::OnTrayNotify(uint32_t, uint32_t lParam) {
    if (lParam != TrayIcon::kLeftButtonDown && lParam != TrayIcon::kLeftButtonDoubleClick &&
        lParam != TrayIcon::kRightButtonDown)
        return 0;
    StopAndComeBack();
    return 0;
}

long CKestraboleDlg::OnTrayHide(uint32_t, uint32_t) {
    m_nid.Add();
    hide();
    return 1;
}

long CKestraboleDlg::OnTrayRestore(uint32_t, uint32_t) {
    m_nid.Delete();
    show();
    return 1;
}
