#include "app/KestraboleDlg.h"

#include "app/ApplicationDisplay.h"
#include "app/KestraboleApp.h"
#include "app/OutputPath.h"
#include "app/RecordingNotes.h"
#include "app/Resources.h"
#include "app/UserMessage.h"
#include "recorder/FrameTiming.h"
#include "recorder/output/CodecCatalogue.h"
#include "recorder/output/RecordingTarget.h"
#include "session/ScratchFolder.h"
#include "settings/Folders.h"
#include "settings/RegEdit.h"
#include "settings/Utf16.h"
#include "settings/ValueStore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLineEdit>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

// X11's headers come after Qt's, whose names their macros would take.
#include "hooklib/ClickChannel.h"
#include "recorder/capture/CursorTracker.h"
#include <X11/Xlib.h>

namespace {

constexpr unsigned kFrameTimerId = 1;
constexpr int kWriteWatchMilliseconds = 250;
// The room a start asks for: a few seconds at a tenth of the raw frame size, more
// than any of the offered codecs needs for a screen.
constexpr uint64_t kSecondsOfRoom = 3;
constexpr uint64_t kCompressionGuess = 10;
const std::u16string kSharedKey = u"Software\\DaltropSC";

// Root-window pixels, as the grabber draws in.
QPoint CursorPosition() {
    Display* display = ApplicationDisplay();
    int x = 0;
    int y = 0;
    if (!display || !QueryPointer(display, DefaultRootWindow(display), x, y))
        return QCursor::pos();
    return {x, y};
}

bool PathExists(const std::u16string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::exists(ToUtf8(path), error);
}

bool IsExistingFile(const std::u16string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(ToUtf8(path), error);
}

bool IsRelative(const std::u16string& path) {
    return path.empty() || path.front() != u'/';
}

void CreateFolderTree(const std::u16string& folder) {
    std::error_code error;
    std::filesystem::create_directories(ToUtf8(folder), error);
}

bool FolderWritable(const std::u16string& folder) {
    std::string name = folder.empty() ? "." : ToUtf8(folder);
    return access(name.c_str(), W_OK) == 0;
}

uint64_t RoomForAFewSeconds(const BitmapInfoHeader& format, unsigned frameRate) {
    return uint64_t(format.biSizeImage) * frameRate * kSecondsOfRoom / kCompressionGuess;
}

QString WhyCaptureFailed(CaptureFailure failure) {
    switch (failure) {
    case CaptureFailure::NoPortal:
        return QCoreApplication::translate(
            "CKestraboleDlg", "The screen cannot be recorded: this Wayland session has no desktop "
                              "portal (xdg-desktop-portal) running.");
    case CaptureFailure::NoScreenCast:
        return QCoreApplication::translate(
            "CKestraboleDlg", "The screen cannot be recorded: the desktop portal of this session "
                              "cannot share the screen.");
    case CaptureFailure::Cancelled:
        return QCoreApplication::translate(
            "CKestraboleDlg", "The recording did not start: sharing the screen was declined.");
    case CaptureFailure::PortalRefused:
        return QCoreApplication::translate(
            "CKestraboleDlg", "The screen cannot be recorded: the desktop portal refused to share "
                              "the screen.");
    case CaptureFailure::StreamFailed:
        return QCoreApplication::translate(
            "CKestraboleDlg", "The screen cannot be recorded: its video stream could not be "
                              "received from PipeWire.");
    default:
        return QCoreApplication::translate("CKestraboleDlg", "The screen cannot be captured.");
    }
}

// For a user's report of a jerky recording: what became of each frame slot.
void LogSlots(const RecordingPipeline::Counts& counts) {
    std::fprintf(stderr,
                 "%s: recorded %u frames, %u repeats, %u gaps (%u of them with the queue full)\n",
                 qPrintable(QCoreApplication::applicationName()), counts.frames, counts.repeats,
                 counts.gaps, counts.ringFull);
}

} // namespace

void CKestraboleDlg::InitRecordingSession() {
    connect(&m_hotKey, &HotKey::activated, this, &CKestraboleDlg::OnHotKey);
    connect(&m_stopShortcut, &GlobalShortcut::activated, this, &CKestraboleDlg::OnHotKey);
    connect(&m_stopShortcut, &GlobalShortcut::unavailable, this,
            &CKestraboleDlg::OnStopShortcutUnavailable);
    connect(&m_terminationSignals, &TerminationSignals::received, this,
            &CKestraboleDlg::OnTerminationSignal);
    m_messageFilter = std::make_unique<WindowMessageFilter>(
        [this](const clickchannel::WindowMessage& message) { return OnWindowMessage(message); });
    m_messageFilter->SetWindow(winId());
    m_writeWatch.setInterval(kWriteWatchMilliseconds);
    connect(&m_writeWatch, &QTimer::timeout, this, &CKestraboleDlg::WatchRecording);
}

long CKestraboleDlg::OnWindowMessage(const clickchannel::WindowMessage& message) {
    switch (message.message) {
    case clickchannel::kLeftButtonDown:
        return OnLeftClickMsg(message.wParam, message.lParam);
    case clickchannel::kRightButtonDown:
        return OnRightClickMsg(message.wParam, message.lParam);
    case clickchannel::kNoPressDevices:
        return OnNoPressDevices();
    case clickchannel::kTrayHide:
        return OnTrayHide(message.wParam, message.lParam);
    case clickchannel::kTrayRestore:
        return OnTrayRestore(message.wParam, message.lParam);
    default:
        return 0;
    }
}

void CKestraboleDlg::StartRecording() {
    CKestraboleApp* app = CKestraboleApp::Instance();
    // The dialog can be shown while a recording goes on (a restore request); a
    // second start then would reopen the file under the running recording.
    if (!app || app->m_pipeline.running())
        return;
    // A rejected entry has been explained; nothing hides and nothing records.
    if (!UpdateData(true))
        return;
    app->m_settings.frameRate = static_cast<int32_t>(m_nFrameRate);
    m_settings.frameRate = static_cast<int32_t>(m_nFrameRate);
    if (RefuseUnusablePath())
        return;
    EnsureOutputFolder();
    CCodecCatalogue::DisableXvidStatus();
    if (m_cbCodec.currentIndex() < 0) {
        ShowUserMessage(this, tr("Choose a codec in the list before recording."));
        return;
    }
    CCodecCatalogue::Resolve(m_cbCodec.currentText().toStdU16String(),
                             app->m_settings.compressOptions);
    if (!CCodecCatalogue::ContainerTakes(m_strPath, app->m_settings.compressOptions)) {
        ShowUserMessage(this, WhyContainerRefusesCodec());
        return;
    }
    if (!ConfirmReplacing())
        return;
    RegisterStopKey();
    PublishWindowForHookHost();
    m_hostProcess.Start(ToUtf8(GetModuleFolder()) + "Daltrop", static_cast<uint32_t>(winId()));
    ScratchFolder::Prepare(ScratchFolder::Path());
    m_nid.Add();
    hide();
    const QString failure = BeginCapture(*app);
    if (!failure.isEmpty())
        AbandonStart(failure);
    else if (!TrayIcon::HostRunning())
        TellStopKeyOnce();
}

// Without a notification area the hidden dialog leaves nothing on screen to come
// back by; the user hears of F9 once a run.
void CKestraboleDlg::TellStopKeyOnce() {
    if (m_toldStopKey)
        return;
    m_toldStopKey = true;
    ShowUserMessage(this, notes::StopKeyOnly());
}

// A path that can name no recording file is refused before any folder is made
// for it; true when it was.
bool CKestraboleDlg::RefuseUnusablePath() {
    if (m_strPath.empty())
        return false;
    const RecordingTargetProblem problem = CheckRecordingName(ToUtf8(m_strPath));
    if (problem == RecordingTargetProblem::Usable)
        return false;
    ShowUserMessage(this, notes::TargetProblem(problem, m_strPath));
    return true;
}

// A file is replaced only with the user's word: Browse's save dialog has asked
// for the path it chose, any other existing file is asked about here. A link is
// followed, so a name that leads to another file is asked about too.
bool CKestraboleDlg::ConfirmReplacing() {
    const bool confirmed = !m_strConfirmedPath.empty() && m_strPath == m_strConfirmedPath;
    m_strConfirmedPath.clear();
    if (confirmed || !IsExistingFile(m_strPath))
        return true;
    return AskUser(this,
                   tr("The file \"%1\" already exists. Replace it with the new recording?")
                       .arg(notes::ShortPath(m_strPath)),
                   tr("&Replace"));
}

// Each recording to the default path keeps its own file: the next one gets a
// path stamped with the time it is made.
void CKestraboleDlg::RenewDefaultPath() {
    if (m_strPath != m_strDefaultPath)
        return;
    m_strDefaultPath = FreshDefaultOutputPath(DirectoryOf(m_strPath));
    m_strPath = m_strDefaultPath;
    CDataExchange dx(*this, false);
    dx.Text(static_cast<QLineEdit*>(Control(resources::kPathEdit)), m_strPath);
}

// A relative path whose folder is missing is placed under the program's folder.
// An empty path stays empty, so that the start can ask for one instead of
// trying to record into the program's folder itself.
void CKestraboleDlg::EnsureOutputFolder() {
    if (m_strPath.empty() || PathExists(DirectoryOf(m_strPath)))
        return;
    if (IsRelative(m_strPath)) {
        const bool defaultPath = m_strPath == m_strDefaultPath;
        m_strPath = GetModuleFolder() + m_strPath;
        if (defaultPath)
            m_strDefaultPath = m_strPath;
    }
    CreateFolderTree(DirectoryOf(m_strPath));
}

void CKestraboleDlg::PublishWindowForHookHost() {
    CRegEdit registry;
    registry.WriteStringIfEmpty(true, kSharedKey, u"HW", u"");
    registry.WriteDword(true, kSharedKey, u"HW", static_cast<uint32_t>(winId()));
}

QString CKestraboleDlg::BeginCapture(CKestraboleApp& app) {
    CScreenGrabber& grabber = app.m_grabber;
    const bool setUp = grabber.Setup();
    // A stop while the portal was asked has already undone the start.
    if (!setUp && grabber.Failure() == CaptureFailure::Abandoned)
        return {};
    if (!setUp || !grabber.Grab())
        return WhyCaptureFailed(grabber.Failure());
    const unsigned frameRate = static_cast<unsigned>(m_settings.frameRate);
    if (frameRate != 0 && !m_strPath.empty()) {
        const RecordingTargetProblem problem = CheckRecordingTarget(
            ToUtf8(m_strPath), RoomForAFewSeconds(*grabber.Header(), frameRate));
        if (problem != RecordingTargetProblem::Usable)
            return notes::TargetProblem(problem, m_strPath);
    }
    const bool withSound = OpenSound(app.m_sound);
    app.m_aviWriter.SetSoundTrack(withSound);
    if (frameRate == 0 || !app.m_aviWriter.Open(m_strPath, frameRate,
                                                app.m_settings.compressOptions, grabber.Header()))
        return WhyWriterRefused(*grabber.Header());
    if (withSound && !app.m_aviWriter.HasSoundTrack())
        m_soundNote = notes::NoSound(SoundProblem::NoDevice, false);
    // From here the pipeline's threads grab and write on the frame schedule; this
    // thread only answers the user, the tray and the helper.
    app.m_startTime = MillisecondClock();
    CKestraboleApp::CompleteRecordingOnExit();
    if (!app.m_pipeline.Start(app.m_startTime, frameRate, &app.m_sound))
        return tr("The screen cannot be captured.");
    app.m_timerId = kFrameTimerId;
    m_writeWatch.start();
    return {};
}

// Sound that cannot be had does not stop the recording; the user hears why
// when the dialog comes back.
bool CKestraboleDlg::OpenSound(SoundRecording& sound) {
    m_soundNote.clear();
    if (!m_bMicrophone && !m_bDesktopSound) {
        sound.Stop();
        return false;
    }
    const bool opened = sound.Open(m_bMicrophone != 0, m_bDesktopSound != 0);
    if (sound.problem() != SoundProblem::NoProblem)
        m_soundNote = notes::NoSound(sound.problem(), opened);
    return opened;
}

QString CKestraboleDlg::WhyWriterRefused(const BitmapInfoHeader& format) const {
    if (m_settings.frameRate <= 0)
        return tr("The frame rate is 0. Enter a frame rate from 1 to 32.");
    if (m_strPath.empty())
        return tr("Enter the path of the file to record to.");
    const std::u16string folder = DirectoryOf(m_strPath);
    if (!FolderWritable(folder))
        return tr("The folder \"%1\" cannot be written to.").arg(notes::ShortPath(folder));
    return tr("The codec \"%1\" cannot record this screen (%2 x %3 pixels, %4 bits per pixel), "
              "or the file \"%5\" cannot be created.")
        .arg(m_cbCodec.currentText())
        .arg(format.biWidth)
        .arg(format.biHeight)
        .arg(format.biBitCount)
        .arg(notes::ShortPath(m_strPath));
}

// Names a codec of the list that the file type takes, where there is one.
QString CKestraboleDlg::WhyContainerRefusesCodec() const {
    const QString type = QFileInfo(QString::fromStdU16String(m_strPath)).suffix().toUpper();
    const QString refused =
        tr("An %1 file cannot hold the codec \"%2\".").arg(type, m_cbCodec.currentText());
    const std::u16string working = CCodecCatalogue::PreferredFor(m_strPath, ListedCodecs());
    if (working.empty())
        return refused + u' ' + tr("Record to a file ending in .avi instead.");
    return refused + u' ' +
           tr("Choose \"%1\" in the codec list, or a file ending in .avi.")
               .arg(QString::fromStdU16String(working));
}

// A start that cannot record must not leave the user behind a tray icon with
// nothing running: the hot key, the helper and the icon are taken back and the
// dialog says why. The shared key stays, as after Close; the next start rewrites it.
void CKestraboleDlg::AbandonStart(const QString& reason) {
    EndCapture();
    m_nid.Delete();
    show();
    ShowUserMessage(this, reason);
}

// Capture and writing run on the pipeline's threads; a shared screen that went
// away or a full disk there ends the recording here, looked at a few times a
// second, which is no per-frame work.
void CKestraboleDlg::WatchRecording() {
    CKestraboleApp* app = CKestraboleApp::Instance();
    if (!app || !app->m_pipeline.running())
        return;
    if (app->m_grabber.Failure() == CaptureFailure::StreamEnded)
        OnScreenLost();
    else if (app->m_aviWriter.WriteFailed())
        StopAndComeBack();
}

// The shared screen went away under the recording (sharing revoked, monitor
// gone, PipeWire restarted): what was recorded is completed and kept, and the
// dialog comes back to say so.
void CKestraboleDlg::OnScreenLost() {
    EndCapture();
    const std::u16string recorded = m_strPath;
    RenewDefaultPath();
    CRegEdit().DeleteKey(true, u"Software", u"DaltropSC");
    m_nid.Delete();
    show();
    ShowUserMessage(this, tr("The screen is no longer shared with the recorder, so the recording "
                             "stopped. What was recorded is saved in \"%1\".")
                              .arg(notes::ShortPath(recorded)));
}

void CKestraboleDlg::OnHotKey(unsigned, unsigned, unsigned virtualKey) {
    if (virtualKey == HotKey::kVirtualKeyF9)
        StopAndComeBack();
}

void CKestraboleDlg::StopAndComeBack() {
    StopRecording();
    m_nid.Delete();
    show();
}

long CKestraboleDlg::OnLeftClickMsg(uint32_t, uint32_t) {
    return AddClickMark(true);
}

long CKestraboleDlg::OnRightClickMsg(uint32_t, uint32_t) {
    return AddClickMark(false);
}

// Only the two check boxes are read: the whole exchange would stop at a rejected
// frame-rate entry with one message box per press, while the sender waits.
long CKestraboleDlg::AddClickMark(bool left) {
    CDataExchange dx(*this, true);
    dx.Check(static_cast<QCheckBox*>(Control(resources::kLeftClickBox)), m_bLeftClick);
    dx.Check(static_cast<QCheckBox*>(Control(resources::kRightClickBox)), m_bRightClick);
    CKestraboleApp* app = CKestraboleApp::Instance();
    if ((left ? m_bLeftClick : m_bRightClick) == 0 || !app)
        return 0;
    const QPoint at = CursorPosition();
    app->m_grabber.AddClickMark(ClickMark{at.x(), at.y(), left, 0});
    return 0;
}

void CKestraboleDlg::StopRecording() {
    // Looked at before the stop ends the helper, which hides how it fared.
    const auto helperFailure = m_hostProcess.TakeFailure();
    const bool recorded = EndCapture();
    if (m_bClosing)
        return;
    QStringList problems;
    if (recorded)
        problems = RecordingProblems();
    // Only a file this stop completed, with frames in it, is opened: after a start
    // that never recorded, the path may name nothing or an older, unrelated file.
    // Starting the player can take a second on a busy machine, so it waits until
    // the dialog, shown by the caller, is back.
    if (recorded && CKestraboleApp::Instance()->m_aviWriter.FramesStored() > 0) {
        const QUrl file =
            QUrl::fromLocalFile(QFileInfo(QString::fromStdU16String(m_strPath)).absoluteFilePath());
        QMetaObject::invokeMethod(
            this, [file] { QDesktopServices::openUrl(file); }, Qt::QueuedConnection);
    }
    CRegEdit().DeleteKey(true, u"Software", u"DaltropSC");
    if (recorded && helperFailure)
        problems << notes::HelperFailed(*helperFailure, ValueStore::HivePath(true));
    if (const QString note = TakeNoPressDevicesNote(); !note.isEmpty())
        problems << note;
    if (const QString note = TakeUnplaceablePressesNote(); !note.isEmpty())
        problems << note;
    if (recorded && CKestraboleApp::Instance()->m_sound.Interrupted())
        m_soundNote = notes::SoundInterrupted();
    if (recorded && !m_soundNote.isEmpty())
        problems << m_soundNote;
    m_soundNote.clear();
    ReportWhenShown(problems);
    if (recorded)
        RenewDefaultPath();
}

QStringList CKestraboleDlg::RecordingProblems() const {
    const CAviWriter& writer = CKestraboleApp::Instance()->m_aviWriter;
    if (writer.WriteFailed())
        return {notes::DiskFull(m_strPath, writer.FramesStored() > 0)};
    if (writer.FramesStored() == 0)
        return {notes::NothingRecorded(m_strPath)};
    return {};
}

// The stop runs before the dialog comes back; what went wrong is said after.
void CKestraboleDlg::ReportWhenShown(const QStringList& problems) {
    if (problems.isEmpty())
        return;
    QMetaObject::invokeMethod(
        this, [this, problems] { ShowUserMessage(this, problems.join(u"\n\n")); },
        Qt::QueuedConnection);
}

// Releases what a start took, in the stop's order; true when a file was open.
bool CKestraboleDlg::EndCapture() {
    m_hotKey.Unregister();
    m_stopShortcut.Unregister();
    m_hostProcess.Terminate();
    CKestraboleApp* app = CKestraboleApp::Instance();
    if (!app)
        return false;
    m_writeWatch.stop();
    const bool recording = app->m_pipeline.running();
    app->m_pipeline.Stop();
    if (recording)
        LogSlots(app->m_pipeline.counts());
    app->m_sound.Stop();
    app->m_timerId = 0;
    app->m_grabber.Release();
    const bool wasOpen = app->m_aviWriter.IsOpen();
    app->m_aviWriter.Release();
    return wasOpen;
}

// A kill, Ctrl+C or the end of the session: the recording is completed as Close
// completes it, so the file keeps its index, then the program ends, even from
// inside a message box's loop.
void CKestraboleDlg::OnTerminationSignal(int) {
    m_bClosing = true;
    StopRecording();
    QDialog::reject();
    QCoreApplication::exit(0);
}
