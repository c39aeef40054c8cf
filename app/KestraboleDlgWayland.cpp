#include "app/KestraboleDlg.h"

#include <QLabel>

// Where the desktop offers no stop key, the tray icon is the only way to stop. The
// help line says so from the first start on and keeps saying it, instead of a
// message at every start.
void CKestraboleDlg::OnStopShortcutUnavailable() {
    if (m_toldNoStopKey)
        return;
    m_toldNoStopKey = true;
    HelpLine()->setText(tr("Click \"Start Record\" to record the movie.\n"
                           "This desktop offers no F9: click icon on the system tray to "
                           "stop recording."));
}

// Told once per run, when the dialog comes back: the helper says it at every
// start, while the dialog is hidden and the screen may still be being set up.
long CKestraboleDlg::OnNoPressDevices() {
    m_session.NoteNoPressDevices();
    return 0;
}

QString CKestraboleDlg::NoPressDevicesNote() const {
    return tr("Mouse presses could not be marked in this recording: no input device can be "
              "read. To allow it, add your user to the \"input\" group (sudo usermod -aG "
              "input $USER) and log in again.");
}

// Said once per run, after the first recording in which a press went unmarked.
QString CKestraboleDlg::UnplaceablePressesNote() const {
    return tr("Mouse presses could not be marked in this recording: this desktop draws the "
              "pointer into the shared screen without telling where it is.");
}
