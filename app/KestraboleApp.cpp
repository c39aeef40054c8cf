#include "app/KestraboleApp.h"

#include "app/KestraboleDlg.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace {

CKestraboleApp* g_instance = nullptr;

} // namespace

CKestraboleApp::CKestraboleApp() {
    g_instance = this;
}

CKestraboleApp::~CKestraboleApp() {
    // Whatever ExitInstance left (nothing, normally) goes before the object does.
    m_pipeline.Stop();
    m_aviWriter.Release();
    if (g_instance == this)
        g_instance = nullptr;
}

bool CKestraboleApp::InitInstance() {
    {
        CKestraboleDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    return false;
}

int CKestraboleApp::ExitInstance() {
    m_pipeline.Stop();
    m_grabber.Release();
    m_aviWriter.Release();
    return 0;
}

RecordingSession::Recorder CKestraboleApp::Recorder() {
    return {m_grabber, m_aviWriter, m_sound, m_pipeline, m_startTime, m_timerId};
}

CKestraboleApp* CKestraboleApp::Instance() {
    return g_instance;
}

QWidget* CKestraboleApp::MainWindow() {
    return g_instance ? g_instance->m_pMainWnd : nullptr;
}

// The first start registers the completion, once the grabber and the writer have
// made what they keep for the process's life: exit's handlers and the destructors
// of statics run in the reverse order of their making, so it runs while, among
// others, the capture thread's X error trap still exists.
void CKestraboleApp::CompleteRecordingOnExit() {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(CompleteRecordingAtExit); });
}

// A lost display ends the program through exit(1) on the dialog's thread: Xlib's
// I/O error handler (Qt's, ending in Xlib's default) calls it when a connection
// that nothing traps, such as the hot key's, finds the server gone, and Qt's xcb
// platform when its own connection breaks. exit unwinds no stack, so neither the
// dialog nor this object stops the recording; this does, as a stop does: the
// pipeline's threads write what is queued and end, then the writer completes the
// file. Called on another thread it leaves the file to the repair at the next
// start, since the dialog's thread may be stopping the same recording meanwhile.
void CKestraboleApp::CompleteRecordingAtExit() {
    CKestraboleApp* app = g_instance;
    if (!app || !app->m_aviWriter.IsOpen() || std::this_thread::get_id() != app->m_dialogThread)
        return;
    app->m_pipeline.Stop();
    app->m_sound.Stop();
    std::error_code error;
    const std::string file = std::filesystem::absolute(app->m_aviWriter.FileName(), error);
    app->m_aviWriter.Release();
    std::fprintf(stderr,
                 "Kestrabole: the connection to the display was lost, so the recording stopped. "
                 "What was recorded is saved in \"%s\".\n",
                 file.c_str());
}
