#include "app/KestraboleDlg.h"

#include "app/AreaList.h"
#include "app/RecordingNotes.h"
#include "recorder/capture/PortalFrameSource.h"

#include <QImage>
#include <QLabel>

namespace {

// The frame's bottom-up B, G, R, x rows as an opaque top-down picture.
QImage FrameImage(const FrameBuffer& frame) {
    QImage image(frame.width(), frame.height(), QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y) {
        const auto* source = reinterpret_cast<const uint32_t*>(frame.ScreenRow(y));
        auto* target = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < frame.width(); ++x)
            target[x] = source[x] | 0xff000000u;
    }
    return image;
}

} // namespace

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

bool CKestraboleDlg::PortalCapture() {
    return DetectCaptureBackend() == CaptureBackend::Portal;
}

void CKestraboleDlg::OfferPortalSources() {
    AskCastSourceTypes(this, [this](uint types) {
        if ((types & uint(CastSourceType::Window)) == 0)
            RemoveAreaKind(m_cbArea, AreaKind::Window);
    });
}

// The still comes from the stream the region will be cut from, asked for with the
// region's own permission: the picker shows the first time, and the rectangle is
// in that monitor's pixels whatever its place and scale on the desktop. Declining
// the picker says nothing; any other failure says why.
std::optional<QRect> CKestraboleDlg::PickRegionOnSharedMonitor() {
    QImage still;
    {
        PortalFrameSource monitor(PortalShare::RegionMonitor);
        if (!monitor.Open()) {
            if (monitor.failure() != CaptureFailure::Cancelled)
                ReportWhenShown({notes::CaptureFailed(monitor.failure())});
            return std::nullopt;
        }
        monitor.Capture();
        still = FrameImage(monitor.frame());
    }
    return RegionPicker::PickOn(still);
}

// A monitor or a window, once picked, is kept (see PortalFrameSource): this asks the
// desktop's picker again for the chosen kind. The stream opened for it is closed at
// once. Declining the picker keeps the old choice and says nothing; any other
// failure says why.
void CKestraboleDlg::AskPickerAgain() {
    PortalFrameSource source(ChosenArea());
    source.AskPickerAgain();
    if (!source.Open() && source.failure() != CaptureFailure::Cancelled)
        ReportWhenShown({notes::CaptureFailed(source.failure())});
}
