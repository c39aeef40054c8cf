#pragma once

#include "hooklib/KeyNames.h"
#include "recorder/capture/CaptureBackend.h"
#include "recorder/media/BitmapInfoHeader.h"
#include "recorder/output/RecordingTarget.h"
#include "recorder/sound/SoundSource.h"
#include "session/GlobalShortcut.h"
#include "session/HookHostProcess.h"
#include "session/HotKey.h"
#include "session/KeyCaption.h"
#include "settings/AreaChoice.h"
#include "settings/AviCompressOptions.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CAviWriter;
class Mp4Completion;
class QThread;
class CScreenGrabber;
class RecordingPipeline;
class SoundRecording;
struct ClickMark;

// What the user chose for one recording, read from wherever it was chosen.
struct RecordingChoices {
    std::u16string path; // the file to record into
    unsigned frameRate = 0;
    AviCompressOptions compressOptions; // the codec, resolved
    bool microphone = false;
    bool desktopSound = false;
    // The X window that the helper sends the presses to.
    uint32_t pressWindow = 0;
    // What of the keyboard the video shows.
    keynames::KeyShowing keys = keynames::KeyShowing::Off;
    // The recorded length, paused spans left out, at which the recording ends by
    // itself; 0: it goes on until it is stopped.
    unsigned stopAfterSeconds = 0;
    AreaChoice area;     // what part of the screen to record
    int scaleHeight = 0; // a taller picture is scaled down to this height; 0: not scaled
};

// Why a start could not record. What the start took is given back by then.
struct StartFailure {
    enum class Step {
        Capture,  // the screen could not be had; capture says why
        Target,   // the file cannot hold a recording; target says why
        Writer,   // the writer refused the file, the frame rate or the screen's format
        Pipeline, // the recording's threads could not be started
    };
    Step step = Step::Capture;
    CaptureFailure capture = CaptureFailure::NoFailure;
    RecordingTargetProblem target = RecordingTargetProblem::Usable;
    BitmapInfoHeader format{}; // the screen's, for Writer
};

// What a stop found that the user should hear of.
struct StopReport {
    bool recorded = false; // a file was open and is complete now, or being completed
    // An MP4 file is being rewritten with its index in front; fileCompleted follows.
    bool completing = false;
    // How the helper fared, looked at before the stop ended it; set when it did not work.
    std::optional<HookHostProcess::Failure> helperFailure;
    // The helper could read no input device, so presses went unmarked. Each of the
    // two press notes is set once in the session's life.
    bool pressDevicesUnreadable = false;
    // The desktop drew the pointer into the shared screen without telling where.
    bool pressesUnplaceable = false;
    // The chosen monitor, region or window could not be had: the primary screen was recorded.
    AreaFallback areaFallback = AreaFallback::Kept;
    // The recorded window was closed before the stop; its last picture filled the rest.
    bool windowClosed = false;

    // The rest is set for a recorded file only.
    bool diskFull = false;  // the writer found no more room
    bool anyFrames = false; // the file holds at least one frame
    // A sound device asked for could not be opened at the start; someSound: another one was.
    SoundProblem soundMissing = SoundProblem::NoProblem;
    bool someSound = false;
    // A sound device stopped delivering during the recording.
    bool soundInterrupted = false;
};

enum class SessionState { Idle, Recording, Paused };

// One recording at a time, from its start to its stop: it takes the stop key
// (F9, or the desktop portal's shortcut on Wayland), starts the helper that marks
// presses, sets the recorder going and watches it, and gathers at the stop what
// the user should hear of. It shows nothing itself: whoever drives it (the
// dialog) turns its answers and signals into what the user sees.
class RecordingSession : public QObject {
    Q_OBJECT
public:
    // The recorder's parts, which outlive every recording: the application object
    // owns them and the session drives them.
    struct Recorder {
        CScreenGrabber& grabber;
        CAviWriter& writer;
        SoundRecording& sound;
        RecordingPipeline& pipeline;
        uint32_t& startTime; // when the running recording's frame timing began
        int& timerId;        // the frame timer's id while a recording runs, else 0
    };

    // Without a recorder there is nothing to capture: a start fails as a capture
    // does, and a stop only gives back the stop key and the helper.
    explicit RecordingSession(std::optional<Recorder> recorder, QObject* parent = nullptr);
    // Waits for a file still being completed.
    ~RecordingSession() override;

    // Takes the stop key, starts the helper and begins the recording; nothing when
    // it records. A stop that comes while the desktop is asked to share the screen
    // calls the start off: it then answers nothing, and the session stays idle.
    std::optional<StartFailure> Start(const RecordingChoices& choices);
    // Completes the file and gives back what the start took. Safe to repeat.
    StopReport Stop();
    // A paused recording keeps its file open and takes nothing until it resumes;
    // the paused span is not in the file. Each does nothing in the wrong state.
    void Pause();
    void Resume();
    SessionState State() const;
    // How long the running recording is so far, paused spans left out.
    uint32_t RecordedMilliseconds() const;

    // A press the helper reported, at the pointer; drawn into the coming frames.
    void AddClickMark(const ClickMark& mark);
    // A key the helper reported; shown in the coming frames as the key caption.
    void AddKey(unsigned long keysym, uint32_t modifiers);
    // The helper said it can read no input device.
    void NoteNoPressDevices();

    // The last recording's file is still being completed (see StopReport::completing).
    bool Completing() const { return m_completion != nullptr; }

    // The helper of the recording running or last started.
    const HookHostProcess& Helper() const { return m_hostProcess; }

signals:
    void stateChanged(SessionState state);
    // F9, or the shortcut that stands in for it, as a hot-key message carries them.
    // The recording goes on until it is stopped.
    void stopKeyPressed(unsigned identifier, unsigned modifiers, unsigned virtualKey);
    // The desktop offers no stop key.
    void stopKeyUnavailable();
    // The recording ended by itself; the session is idle again. A full disk
    // stopped it as Stop does; a shared screen that went away ends it without a report.
    void diskFull(const StopReport& report);
    void screenLost();
    // The file a stop left being completed is complete now.
    void fileCompleted();
    // The recording has reached the length it was to stop at; it is complete once
    // stopped, which is left to the receiver, as for the stop key.
    void timeUp();

private:
    void RegisterStopKey();
    std::optional<StartFailure> BeginCapture(const RecordingChoices& choices);
    bool OpenSound(const RecordingChoices& choices);
    void WatchRecording();
    bool EndCapture();
    void CompleteBeside(std::unique_ptr<Mp4Completion> rewrite);
    bool TakePressDevicesNote();
    bool TakeUnplaceablePressesNote();

    std::optional<Recorder> m_recorder;
    HookHostProcess m_hostProcess;
    HotKey m_hotKey;
    GlobalShortcut m_stopShortcut;
    QTimer m_writeWatch;
    KeyCaption m_keyCaption;
    int m_frameHeight = 0;           // the running recording's
    QThread* m_completion = nullptr; // rewriting the last MP4 file
    SoundProblem m_soundMissing = SoundProblem::NoProblem;
    bool m_someSound = false;
    bool m_toldNoPressDevices = false;
    bool m_noPressDevicesToTell = false;
    bool m_toldUnplaceablePresses = false;
};
