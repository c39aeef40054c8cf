#include "app/KestraboleDlg.h"

#include "app/Resources.h"
#include "app/UserMessage.h"
#include "hooklib/DesktopSession.h"

#include <QLabel>

// F9 cannot be grabbed on a Wayland desktop; the portal's global shortcut takes
// its place there.
void CKestraboleDlg::RegisterStopKey() {
    if (IsWaylandSession())
        m_stopShortcut.Register();
    else
        m_hotKey.Register();
}

// The tray icon is then the only way to stop. The help line says so from the first
// start on and keeps saying it, instead of a message at every start.
void CKestraboleDlg::OnStopShortcutUnavailable() {
    if (m_toldNoStopKey)
        return;
    m_toldNoStopKey = true;
    const auto& items = resources::MainDialogTemplate().items;
    for (size_t i = 0; i < m_controls.size(); ++i)
        if (auto* label = qobject_cast<QLabel*>(m_controls[i]);
            label && items[i].text == QLatin1String(resources::kHelpLineText))
            label->setText(tr("Click \"Start Record\" to record the movie.\n"
                              "This desktop offers no F9: click icon on the system tray to "
                              "stop recording."));
}

// Told once per run: the helper says it at every start. The message waits for the
// event loop, so that the helper has its answer at once and the recording goes on.
long CKestraboleDlg::OnNoPressDevices() {
    if (m_toldNoPressDevices)
        return 0;
    m_toldNoPressDevices = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            ShowUserMessage(this, tr("Mouse presses cannot be marked in this recording: no "
                                     "input device can be read. To allow it, add your user to "
                                     "the \"input\" group (sudo usermod -aG input $USER) and log "
                                     "in again."));
        },
        Qt::QueuedConnection);
    return 0;
}
