#include "app/KestraboleDlg.h"

#include "app/AreaList.h"
#include "app/KestraboleApp.h"
#include "app/OutputPath.h"
#include "app/RecordingNotes.h"
#include "app/Resources.h"
#include "app/UserMessage.h"
#include "app/WindowPicker.h"
#include "recorder/output/CodecCatalogue.h"
#include "recorder/output/RecordingTarget.h"
#include "session/ApplicationDisplay.h"
#include "settings/Folders.h"
#include "settings/RegEdit.h"
#include "settings/Utf16.h"
#include "settings/ValueStore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>
#include <filesystem>
#include <unistd.h>

// X11's headers come after Qt's, whose names their macros would take.
#include "hooklib/ClickChannel.h"
#include "recorder/capture/CursorTracker.h"
#include <X11/Xlib.h>

namespace {

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

} // namespace

void CKestraboleDlg::InitRecordingSession() {
    connect(&m_session, &RecordingSession::stopKeyPressed, this, &CKestraboleDlg::OnHotKey);
    connect(&m_session, &RecordingSession::stopKeyUnavailable, this,
            &CKestraboleDlg::OnStopShortcutUnavailable);
    connect(&m_session, &RecordingSession::diskFull, this, &CKestraboleDlg::OnDiskFull);
    connect(&m_session, &RecordingSession::screenLost, this, &CKestraboleDlg::OnScreenLost);
    connect(&m_session, &RecordingSession::timeUp, this, &CKestraboleDlg::StopAndComeBack);
    connect(&m_countdown, &CountdownWindow::finished, this, &CKestraboleDlg::BeginRecording);
    connect(&m_countdown, &CountdownWindow::cancelled, this, &CKestraboleDlg::OnCountdownCancelled);
    connect(&m_session, &RecordingSession::stateChanged, this, [](SessionState state) {
        if (state == SessionState::Recording)
            CKestraboleApp::CompleteRecordingOnExit();
    });
    connect(&m_session, &RecordingSession::stateChanged, this,
            &CKestraboleDlg::FrameRecordedRegion);
    connect(&m_terminationSignals, &TerminationSignals::received, this,
            &CKestraboleDlg::OnTerminationSignal);
    m_remote = std::make_unique<RemoteControl>(
        m_session, RemoteControl::Actions{
                       .start =
                           [this](const QString& output, unsigned stopAfter, const QString& area) {
                               return StartRecordingFor(output, stopAfter, area);
                           },
                       .stop = [this] { StopAndComeBack(); }});
    // Without a session bus, or with another recorder on it, the command line
    // reaches that one or none; this one records as ever.
    m_remote->Publish();
    m_messageFilter = std::make_unique<WindowMessageFilter>(
        [this](const clickchannel::WindowMessage& message) { return OnWindowMessage(message); });
    m_messageFilter->SetWindow(winId());
}

long CKestraboleDlg::OnWindowMessage(const clickchannel::WindowMessage& message) {
    switch (message.message) {
    case clickchannel::kLeftButtonDown:
        return OnLeftClickMsg(message.wParam, message.lParam);
    case clickchannel::kRightButtonDown:
        return OnRightClickMsg(message.wParam, message.lParam);
    case clickchannel::kNoPressDevices:
        return OnNoPressDevices();
    case clickchannel::kKeyDown:
        m_session.AddKey(message.wParam, message.lParam);
        return 0;
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
    if (!app || m_session.State() != SessionState::Idle || m_countdown.IsCounting() ||
        m_pickingWindow)
        return;
    // The repair may be replacing a file this recording would go to: the start
    // follows it.
    if (m_repair.Running()) {
        connect(&m_repair, &RecordingRepair::finished, this, &CKestraboleDlg::StartRecording,
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    // A rejected entry has been explained; nothing hides and nothing records.
    if (!UpdateData(true))
        return;
    app->m_settings.frameRate = static_cast<int32_t>(m_nFrameRate);
    m_settings.frameRate = static_cast<int32_t>(m_nFrameRate);
    KeepRecordingTimes();
    if (RefuseUnusablePath())
        return;
    if (m_session.Completing() && m_strPath == m_strCompletingPath) {
        ShowUserMessage(this, tr("\"%1\" is still being completed. Start again once it is done, "
                                 "or choose another file.")
                                  .arg(notes::ShortPath(m_strPath)));
        return;
    }
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
    // Out of the way before the screen is first grabbed, or a window is picked.
    hide();
    if (!PortalCapture() && ChosenArea().kind == AreaKind::Window && m_pickedWindow == 0) {
        m_pickingWindow = true;
        QTimer::singleShot(0, this, &CKestraboleDlg::PickWindowThenBegin);
        return;
    }
    CountdownOrBegin();
}

// Picked once the start has been answered, so that a start from the command
// line does not wait for the click. Esc calls the start off as the countdown's does.
void CKestraboleDlg::PickWindowThenBegin() {
    HideAndSettle();
    m_pickedWindow = PickWindow().value_or(0);
    m_pickingWindow = false;
    if (m_pickedWindow == 0)
        OnCountdownCancelled();
    else
        CountdownOrBegin();
}

void CKestraboleDlg::CountdownOrBegin() {
    if (m_settings.countdown > 0)
        m_countdown.Start(m_settings.countdown);
    else
        BeginRecording();
}

bool CKestraboleDlg::StartRecordingFor(const QString& output, unsigned stopAfterSeconds,
                                       const QString& area) {
    if (m_countdown.IsCounting() || m_pickingWindow)
        return false;
    if (!output.isEmpty()) {
        // Named by the user on the command line, as Browse's save dialog would.
        m_strPath = output.toStdU16String();
        m_strConfirmedPath = m_strPath;
        CDataExchange dx(*this, false);
        dx.Text(static_cast<QLineEdit*>(Control(resources::kPathEdit)), m_strPath);
    }
    if (stopAfterSeconds > 0)
        m_stopAfterOnce = stopAfterSeconds;
    // Chosen as in the list, so that it is kept at Close like a choice made there.
    if (const auto chosen = ParseAreaChoice(area.toStdString())) {
        m_settings.area = *chosen;
        FillAreaList(m_cbArea, m_settings.area, PortalCapture());
    }
    // A start asked for while a cut-off recording is repaired follows the repair.
    const bool afterRepair = m_repair.Running();
    StartRecording();
    const bool began = afterRepair || m_countdown.IsCounting() || m_pickingWindow ||
                       m_session.State() != SessionState::Idle;
    if (!began)
        m_stopAfterOnce.reset();
    return began;
}

void CKestraboleDlg::BeginRecording() {
    CKestraboleApp* app = CKestraboleApp::Instance();
    if (!app)
        return;
    m_nid.Add();
    const RecordingChoices choices = Choices(app->m_settings.compressOptions);
    m_stopAfterOnce.reset();
    // A window's id may name another window later: each start picks its own.
    m_pickedWindow = 0;
    if (const auto failure = m_session.Start(choices))
        AbandonStart(WhyStartFailed(*failure));
    else if (!TrayIcon::HostRunning())
        TellStopKeyOnce();
}

// Nothing was started yet: no file, no helper, no stop key.
void CKestraboleDlg::OnCountdownCancelled() {
    m_stopAfterOnce.reset();
    show();
}

RecordingChoices CKestraboleDlg::Choices(const AviCompressOptions& compressOptions) const {
    return {.path = m_strPath,
            .frameRate = static_cast<unsigned>(m_settings.frameRate),
            .compressOptions = compressOptions,
            .microphone = m_bMicrophone != 0,
            .desktopSound = m_bDesktopSound != 0,
            .pressWindow = static_cast<uint32_t>(winId()),
            .keys = !m_bShowKeys               ? keynames::KeyShowing::Off
                    : m_settings.showTypedKeys ? keynames::KeyShowing::Everything
                                               : keynames::KeyShowing::Shortcuts,
            .stopAfterSeconds =
                m_stopAfterOnce.value_or(static_cast<unsigned>(m_settings.stopAfter)),
            .area = ChosenArea(),
            .scaleHeight = ListedScaleHeight(m_cbScale)};
}

AreaChoice CKestraboleDlg::ChosenArea() const {
    AreaChoice area = ListedArea(m_cbArea, m_settings.area.region);
    area.window = m_pickedWindow;
    return area;
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

QString CKestraboleDlg::WhyStartFailed(const StartFailure& failure) const {
    switch (failure.step) {
    case StartFailure::Step::Capture:
        return notes::CaptureFailed(failure.capture);
    case StartFailure::Step::Target:
        return notes::TargetProblem(failure.target, m_strPath);
    case StartFailure::Step::Writer:
        return WhyWriterRefused(failure.format);
    case StartFailure::Step::Pipeline:
        break;
    }
    return tr("The screen cannot be captured.");
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
// nothing running: the session has taken back the stop key and the helper, the
// icon goes and the dialog says why. The shared key stays, as after Close; the
// next start rewrites it.
void CKestraboleDlg::AbandonStart(const QString& reason) {
    m_nid.Delete();
    show();
    ShowUserMessage(this, reason);
}

// The disk filled up under the recording, which the session has stopped: the
// dialog comes back as after F9 and says so.
void CKestraboleDlg::OnDiskFull(const StopReport& report) {
    TellHowItEnded(report);
    m_nid.Delete();
    show();
}

// The shared screen went away under the recording (sharing revoked, monitor
// gone, PipeWire restarted): the session has completed and kept what was
// recorded, and the dialog comes back to say so.
void CKestraboleDlg::OnScreenLost() {
    const std::u16string recorded = m_strPath;
    RenewDefaultPath();
    CRegEdit().DeleteKey(true, u"Software", u"DaltropSC");
    m_nid.Delete();
    show();
    ShowUserMessage(this, tr("The screen is no longer shared with the recorder, so the recording "
                             "stopped. What was recorded is saved in \"%1\".")
                              .arg(notes::ShortPath(recorded)));
}

void CKestraboleDlg::OnHotKey(unsigned, unsigned modifiers, unsigned virtualKey) {
    if (virtualKey != HotKey::kVirtualKeyF9)
        return;
    if (modifiers == HotKey::kModifierControl)
        TogglePause();
    else
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
    if ((left ? m_bLeftClick : m_bRightClick) == 0)
        return 0;
    const QPoint at = CursorPosition();
    m_session.AddClickMark(ClickMark{at.x(), at.y(), left, 0});
    return 0;
}

void CKestraboleDlg::StopRecording() {
    TellHowItEnded(m_session.Stop());
}

// A closing dialog says nothing: the program ends.
void CKestraboleDlg::TellHowItEnded(const StopReport& report) {
    if (m_bClosing)
        return;
    // Said once: the next start records the list's first entry, the primary screen
    // (or a monitor, through the portal), unless the user chooses again.
    if (report.areaFallback != AreaFallback::Kept)
        m_cbArea.setCurrentIndex(0);
    // Only a file this stop completed, with frames in it, is opened: after a start
    // that never recorded, the path may name nothing or an older, unrelated file.
    // Starting the player can take a second on a busy machine, so it waits until
    // the dialog, shown by the caller, is back.
    if (report.recorded && report.anyFrames) {
        const QUrl file =
            QUrl::fromLocalFile(QFileInfo(QString::fromStdU16String(m_strPath)).absoluteFilePath());
        if (report.completing)
            OpenWhenCompleted(file);
        else
            QMetaObject::invokeMethod(
                this, [file] { QDesktopServices::openUrl(file); }, Qt::QueuedConnection);
    }
    CRegEdit().DeleteKey(true, u"Software", u"DaltropSC");
    ReportWhenShown(StopProblems(report));
    if (report.recorded)
        RenewDefaultPath();
}

// An MP4 file is rewritten with its index in front after the stop, which takes a
// while for a long recording: the dialog is back meanwhile, its help line says so,
// and the player gets the file once it is complete.
void CKestraboleDlg::OpenWhenCompleted(const QUrl& file) {
    QLabel* helpLine = HelpLine();
    const QString help = helpLine->text();
    m_strCompletingPath = m_strPath;
    helpLine->setText(
        tr("Completing \"%1\"; it opens when it is done.").arg(notes::ShortPath(m_strPath)));
    connect(
        &m_session, &RecordingSession::fileCompleted, this,
        [this, helpLine, help, file] {
            helpLine->setText(help);
            m_strCompletingPath.clear();
            QDesktopServices::openUrl(file);
        },
        Qt::SingleShotConnection);
}

QStringList CKestraboleDlg::StopProblems(const StopReport& report) const {
    QStringList problems;
    if (report.recorded)
        problems = RecordingProblems(report);
    if (report.recorded && report.helperFailure)
        problems << notes::HelperFailed(*report.helperFailure, ValueStore::HivePath(true));
    if (report.pressDevicesUnreadable)
        problems << NoPressDevicesNote();
    if (report.pressesUnplaceable)
        problems << UnplaceablePressesNote();
    if (report.areaFallback != AreaFallback::Kept)
        problems << notes::AreaMissing(report.areaFallback);
    if (report.windowClosed)
        problems << notes::WindowClosed();
    if (const QString note = SoundNote(report); !note.isEmpty())
        problems << note;
    return problems;
}

QStringList CKestraboleDlg::RecordingProblems(const StopReport& report) const {
    if (report.diskFull)
        return {notes::DiskFull(m_strPath, report.anyFrames)};
    if (!report.anyFrames)
        return {notes::NothingRecorded(m_strPath)};
    return {};
}

// Sound that could not be had, or was lost on the way, did not stop the recording.
QString CKestraboleDlg::SoundNote(const StopReport& report) const {
    if (report.soundInterrupted)
        return notes::SoundInterrupted();
    if (report.soundMissing != SoundProblem::NoProblem)
        return notes::NoSound(report.soundMissing, report.someSound);
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

// A kill, Ctrl+C or the end of the session: the recording is completed as Close
// completes it, so the file keeps its index, then the program ends, even from
// inside a message box's loop.
// The frame lies just outside the rectangle the grabber reads (the region on the
// screen, cut to even sizes), so it is never in the recording. Through the portal
// the region is in the shared monitor's pixels, which X windows cannot be placed by.
void CKestraboleDlg::FrameRecordedRegion(SessionState state) {
    const AreaChoice area = ListedArea(m_cbArea, m_settings.area.region);
    m_regionFrame.Hide();
    if (state != SessionState::Recording || area.kind != AreaKind::Region || PortalCapture())
        return;
    const QRect recorded =
        RecordedRegion(QRect(area.region.x, area.region.y, area.region.width, area.region.height));
    if (!recorded.isEmpty())
        m_regionFrame.Show(recorded);
}

void CKestraboleDlg::OnTerminationSignal(int) {
    m_bClosing = true;
    StopRecording();
    QDialog::reject();
    QCoreApplication::exit(0);
}
