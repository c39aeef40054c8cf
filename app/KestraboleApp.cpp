#include "app/KestraboleApp.h"

#include "app/KestraboleDlg.h"

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

CKestraboleApp* CKestraboleApp::Instance() {
    return g_instance;
}

QWidget* CKestraboleApp::MainWindow() {
    return g_instance ? g_instance->m_pMainWnd : nullptr;
}
