#include "app/KestraboleDlg.h"

void CKestraboleDlg::StartRecording() {}

void CKestraboleDlg::OnTimer(unsigned) {}

void CKestraboleDlg::OnHotKey(unsigned, unsigned, unsigned) {}

long CKestraboleDlg::OnLeftClickMsg(uint32_t, uint32_t) { return 0; }

long CKestraboleDlg::OnRightClickMsg(uint32_t, uint32_t) { return 0; }

void CKestraboleDlg::StopRecording() {}
