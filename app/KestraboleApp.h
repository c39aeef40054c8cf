#pragma once

#include "app/CommandLine.h"
#include "recorder/RecordingPipeline.h"
#include "recorder/ScreenGrabber.h"
#include "recorder/output/AviWriter.h"
#include "recorder/sound/SoundRecording.h"
#include "session/RecordingSession.h"
#include "settings/Settings.h"

#include <cstdint>
#include <optional>
#include <thread>

class QWidget;

// The program's application object: it owns the long-lived recording state (the
// AVI writer, the frame grabber, the pipeline that runs them and its own settings
// copy) and runs the main
// dialog as the program's whole life. One exists at a time, reachable through
// Instance() by the code that needs it.
class CKestraboleApp {
public:
    CKestraboleApp();
    ~CKestraboleApp();
    CKestraboleApp(const CKestraboleApp&) = delete;
    CKestraboleApp& operator=(const CKestraboleApp&) = delete;

    // Runs the main dialog until it ends; false: the program ends after it.
    bool InitInstance();
    // Stops the pipeline, releases the grabber, then the writer; the program's exit code.
    int ExitInstance();

    // The living application object, or nullptr.
    static CKestraboleApp* Instance();
    // The main dialog while it runs, or nullptr.
    static QWidget* MainWindow();
    // Has a recording still running when the process ends through exit() completed
    // first. Called when a recording has begun: the grabber set up, the writer open.
    static void CompleteRecordingOnExit();
    // The parts below, for the session that drives them.
    RecordingSession::Recorder Recorder();

    CAviWriter m_aviWriter;
    CScreenGrabber m_grabber;
    SoundRecording m_sound;
    CSettings m_settings;
    uint32_t m_startTime = 0;
    int m_timerId = 0;
    // A recording the dialog starts as soon as it opens, as the command line asked.
    std::optional<RemoteRequest> m_startOnOpen;
    // Declared after the grabber and the writer, which it uses until it stops.
    RecordingPipeline m_pipeline{m_grabber, m_aviWriter};

private:
    static void CompleteRecordingAtExit();

    QWidget* m_pMainWnd = nullptr;
    const std::thread::id m_dialogThread = std::this_thread::get_id();
};
