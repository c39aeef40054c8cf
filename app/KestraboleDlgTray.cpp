#include "app/KestraboleDlg.h"

#include "app/Resources.h"

namespace {

constexpr int kTrayClockMilliseconds = 500;

} // namespace

void CKestraboleDlg::PrepareTrayIcon() {
    m_nid.Prepare(resources::ProgramIcon());
    connect(&m_nid, &TrayIcon::notify, this,
            [this](unsigned, unsigned mouseMessage) { OnTrayNotify(0, mouseMessage); });
    connect(&m_nid, &TrayIcon::pauseToggleChosen, this, &CKestraboleDlg::TogglePause);
    connect(&m_nid, &TrayIcon::stopChosen, this, &CKestraboleDlg::StopAndComeBack);
    m_trayClock.setInterval(kTrayClockMilliseconds);
    connect(&m_trayClock, &QTimer::timeout, this,
            [this] { m_nid.ShowRecordedTime(m_session.RecordedMilliseconds()); });
    connect(&m_session, &RecordingSession::stateChanged, this, &CKestraboleDlg::ShowStateInTray);
}

// The right button opens the icon's menu instead.
long CKestraboleDlg::OnTrayNotify(uint32_t, uint32_t lParam) {
    if (lParam != TrayIcon::kLeftButtonDown && lParam != TrayIcon::kLeftButtonDoubleClick)
        return 0;
    StopAndComeBack();
    return 0;
}

void CKestraboleDlg::TogglePause() {
    if (m_session.State() == SessionState::Paused)
        m_session.Resume();
    else
        m_session.Pause();
}

void CKestraboleDlg::ShowStateInTray(SessionState state) {
    if (state == SessionState::Recording) {
        m_nid.ShowPaused(false);
        m_nid.ShowRecordedTime(m_session.RecordedMilliseconds());
        m_trayClock.start();
        return;
    }
    m_trayClock.stop();
    if (state == SessionState::Paused)
        m_nid.ShowPaused(true);
    else
        m_nid.ShowNotRecording();
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
