#include "session/RecordingSession.h"

#include "hooklib/DesktopSession.h"
#include "recorder/FrameTiming.h"
#include "recorder/RecordingPipeline.h"
#include "recorder/ScreenGrabber.h"
#include "recorder/output/AviWriter.h"
#include "recorder/sound/SoundRecording.h"
#include "session/ScratchFolder.h"
#include "settings/Folders.h"
#include "settings/RegEdit.h"
#include "settings/Utf16.h"

#include <QCoreApplication>
#include <cstdlib>
#include <QThread>
#include <cstdio>
#include <utility>

namespace {

constexpr unsigned kFrameTimerId = 1;
constexpr int kWriteWatchMilliseconds = 250;
// The room a start asks for: a few seconds at a tenth of the raw frame size, more
// than any of the offered codecs needs for a screen.
constexpr uint64_t kSecondsOfRoom = 3;
constexpr uint64_t kCompressionGuess = 10;
const std::u16string kSharedKey = u"Software\\DaltropSC";

uint64_t RoomForAFewSeconds(const BitmapInfoHeader& format, unsigned frameRate) {
    return uint64_t(format.biSizeImage) * frameRate * kSecondsOfRoom / kCompressionGuess;
}

// The helper finds the window to send the presses to in the shared key, and
// whether to read keys at all.
void PublishForHookHost(uint32_t window, keynames::KeyShowing keys) {
    CRegEdit registry;
    registry.WriteStringIfEmpty(true, kSharedKey, u"HW", u"");
    registry.WriteDword(true, kSharedKey, u"HW", window);
    registry.WriteDword(true, kSharedKey, u"Keys", uint32_t(keys));
}

// For a user's report of a jerky recording: what became of each frame slot.
void LogSlots(const RecordingPipeline::Counts& counts) {
    std::fprintf(stderr,
                 "%s: recorded %u frames, %u repeats, %u gaps (%u of them with the queue full)\n",
                 qPrintable(QCoreApplication::applicationName()), counts.frames, counts.repeats,
                 counts.gaps, counts.ringFull);
}

} // namespace

RecordingSession::RecordingSession(std::optional<Recorder> recorder, QObject* parent)
    : QObject(parent), m_recorder(recorder) {
    connect(&m_hotKey, &HotKey::activated, this, &RecordingSession::stopKeyPressed);
    connect(&m_stopShortcut, &GlobalShortcut::activated, this, &RecordingSession::stopKeyPressed);
    connect(&m_stopShortcut, &GlobalShortcut::unavailable, this,
            &RecordingSession::stopKeyUnavailable);
    m_writeWatch.setInterval(kWriteWatchMilliseconds);
    connect(&m_writeWatch, &QTimer::timeout, this, &RecordingSession::WatchRecording);
}

RecordingSession::~RecordingSession() {
    if (m_completion)
        m_completion->wait();
    delete m_completion;
}

std::optional<StartFailure> RecordingSession::Start(const RecordingChoices& choices) {
    RegisterStopKey();
    PublishForHookHost(choices.pressWindow, choices.keys);
    m_hostProcess.Start(ToUtf8(GetModuleFolder()) + "Daltrop", choices.pressWindow);
    ScratchFolder::Prepare(ScratchFolder::Path());
    std::optional<StartFailure> failure = BeginCapture(choices);
    // A start that cannot record must not leave the stop key, the helper or an
    // open file behind.
    if (failure)
        EndCapture();
    return failure;
}

// F9 cannot be grabbed on a Wayland desktop; the portal's global shortcut takes
// its place there.
void RecordingSession::RegisterStopKey() {
    if (IsWaylandSession())
        m_stopShortcut.Register();
    else
        m_hotKey.Register();
}

std::optional<StartFailure> RecordingSession::BeginCapture(const RecordingChoices& choices) {
    if (!m_recorder)
        return StartFailure{};
    Recorder& recorder = *m_recorder;
    CScreenGrabber& grabber = recorder.grabber;
    grabber.SetArea(choices.area);
    const bool setUp = grabber.Setup();
    // A stop while the portal was asked has already undone the start.
    if (!setUp && grabber.Failure() == CaptureFailure::Abandoned)
        return {};
    if (!setUp || !grabber.Grab())
        return StartFailure{.capture = grabber.Failure()};
    m_frameHeight = std::abs(grabber.Header()->biHeight);
    const unsigned frameRate = choices.frameRate;
    if (frameRate != 0 && !choices.path.empty()) {
        const RecordingTargetProblem problem = CheckRecordingTarget(
            ToUtf8(choices.path), RoomForAFewSeconds(*grabber.Header(), frameRate));
        if (problem != RecordingTargetProblem::Usable)
            return StartFailure{.step = StartFailure::Step::Target, .target = problem};
    }
    const bool withSound = OpenSound(choices);
    recorder.writer.SetSoundTrack(withSound);
    recorder.writer.SetScaleHeight(choices.scaleHeight);
    if (frameRate == 0 ||
        !recorder.writer.Open(choices.path, frameRate, choices.compressOptions, grabber.Header()))
        return StartFailure{.step = StartFailure::Step::Writer, .format = *grabber.Header()};
    if (withSound && !recorder.writer.HasSoundTrack()) {
        m_soundMissing = SoundProblem::NoDevice;
        m_someSound = false;
    }
    // From here the pipeline's threads grab and write on the frame schedule; this
    // thread only answers the user, the tray and the helper.
    recorder.startTime = MillisecondClock();
    if (!recorder.pipeline.Start(recorder.startTime, frameRate, &recorder.sound,
                                 choices.stopAfterSeconds * frameRate))
        return StartFailure{.step = StartFailure::Step::Pipeline};
    recorder.timerId = kFrameTimerId;
    m_writeWatch.start();
    emit stateChanged(SessionState::Recording);
    return {};
}

// Sound that cannot be had does not stop the recording; the stop reports why.
bool RecordingSession::OpenSound(const RecordingChoices& choices) {
    SoundRecording& sound = m_recorder->sound;
    m_soundMissing = SoundProblem::NoProblem;
    m_someSound = false;
    if (!choices.microphone && !choices.desktopSound) {
        sound.Stop();
        return false;
    }
    const bool opened = sound.Open(choices.microphone, choices.desktopSound);
    m_soundMissing = sound.problem();
    m_someSound = opened;
    return opened;
}

StopReport RecordingSession::Stop() {
    StopReport report;
    // Looked at before the stop ends the helper, which hides how it fared.
    report.helperFailure = m_hostProcess.TakeFailure();
    report.recorded = EndCapture();
    report.completing = Completing();
    if (report.recorded) {
        const CAviWriter& writer = m_recorder->writer;
        report.diskFull = writer.WriteFailed();
        report.anyFrames = writer.FramesStored() > 0;
        report.soundMissing = m_soundMissing;
        report.someSound = m_someSound;
        report.soundInterrupted = m_recorder->sound.Interrupted();
        report.areaFallback = m_recorder->grabber.LastAreaFallback();
        report.windowClosed = m_recorder->grabber.WindowClosed();
    }
    report.pressDevicesUnreadable = TakePressDevicesNote();
    report.pressesUnplaceable = TakeUnplaceablePressesNote();
    return report;
}

void RecordingSession::Pause() {
    if (State() != SessionState::Recording)
        return;
    m_recorder->pipeline.Pause();
    emit stateChanged(SessionState::Paused);
}

void RecordingSession::Resume() {
    if (State() != SessionState::Paused)
        return;
    m_recorder->pipeline.Resume();
    emit stateChanged(SessionState::Recording);
}

SessionState RecordingSession::State() const {
    if (!m_recorder || !m_recorder->pipeline.running())
        return SessionState::Idle;
    return m_recorder->pipeline.paused() ? SessionState::Paused : SessionState::Recording;
}

uint32_t RecordingSession::RecordedMilliseconds() const {
    return State() == SessionState::Idle ? 0 : m_recorder->pipeline.RecordedMilliseconds();
}

// A press made while paused would show as a stale mark after the resume.
void RecordingSession::AddClickMark(const ClickMark& mark) {
    if (State() == SessionState::Recording)
        m_recorder->grabber.AddClickMark(mark);
}

void RecordingSession::AddKey(unsigned long keysym, uint32_t modifiers) {
    if (State() == SessionState::Recording)
        m_recorder->grabber.ShowCaption(m_keyCaption.Press(keysym, modifiers, m_frameHeight));
}

// The helper says so at every start, while a recording is being set up; the user
// hears it once, after the first stop that follows.
void RecordingSession::NoteNoPressDevices() {
    m_noPressDevicesToTell = !m_toldNoPressDevices;
    m_toldNoPressDevices = true;
}

bool RecordingSession::TakePressDevicesNote() {
    return std::exchange(m_noPressDevicesToTell, false);
}

// Reported once, after the first recording in which a press went unmarked.
bool RecordingSession::TakeUnplaceablePressesNote() {
    if (m_toldUnplaceablePresses || !m_recorder || !m_recorder->grabber.MarksUnplaceable())
        return false;
    m_toldUnplaceablePresses = true;
    return true;
}

// Capture and writing run on the pipeline's threads; a shared screen that went
// away or a full disk there ends the recording here, looked at a few times a
// second, which is no per-frame work.
void RecordingSession::WatchRecording() {
    if (State() == SessionState::Idle)
        return;
    if (m_recorder->grabber.Failure() == CaptureFailure::StreamEnded) {
        EndCapture();
        emit screenLost();
    } else if (m_recorder->writer.WriteFailed()) {
        emit diskFull(Stop());
    } else if (m_recorder->pipeline.reachedLimit()) {
        m_writeWatch.stop();
        emit timeUp();
    }
}

// Releases what a start took, in the stop's order; true when a file was open.
bool RecordingSession::EndCapture() {
    m_hotKey.Unregister();
    m_stopShortcut.Unregister();
    m_hostProcess.Terminate();
    if (!m_recorder)
        return false;
    Recorder& recorder = *m_recorder;
    m_writeWatch.stop();
    const bool recording = recorder.pipeline.running();
    recorder.pipeline.Stop();
    if (recording)
        LogSlots(recorder.pipeline.counts());
    recorder.sound.Stop();
    recorder.timerId = 0;
    recorder.grabber.Release();
    const bool wasOpen = recorder.writer.IsOpen();
    if (std::unique_ptr<Mp4Completion> rewrite = recorder.writer.ReleaseLeavingRewrite())
        CompleteBeside(std::move(rewrite));
    if (recording)
        emit stateChanged(SessionState::Idle);
    return wasOpen;
}

// A long MP4 recording's rewrite takes a while; the dialog comes back meanwhile.
void RecordingSession::CompleteBeside(std::unique_ptr<Mp4Completion> rewrite) {
    if (m_completion) { // a stop before the last file was complete waits for it
        m_completion->wait();
        delete m_completion;
    }
    m_completion = QThread::create(
        [rewrite = std::shared_ptr<Mp4Completion>(std::move(rewrite))] { rewrite->Run(); });
    connect(m_completion, &QThread::finished, this, [this] {
        m_completion->wait();
        delete m_completion;
        m_completion = nullptr;
        emit fileCompleted();
    });
    m_completion->start();
}
