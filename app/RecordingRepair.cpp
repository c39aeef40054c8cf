#include "app/RecordingRepair.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

namespace {

constexpr int kSteps = 1000;
constexpr int kBoxAfterMilliseconds = 500;
constexpr int kProgressMilliseconds = 100;

} // namespace

RecordingRepair::RecordingRepair() = default;

RecordingRepair::~RecordingRepair() {
    if (!m_thread)
        return;
    m_work->cancelled = true;
    m_thread->wait();
    delete m_thread;
}

void RecordingRepair::Start(const std::string& markerFolder, QWidget* parent,
                            const QString& boxText) {
    if (m_thread)
        return;
    m_work = std::make_shared<Work>();
    m_thread = QThread::create([work = m_work, markerFolder] {
        work->outcomes = CAviRepair::RepairInterrupted(markerFolder, [&work](double done) {
            work->permille = int(done * kSteps);
            return !work->cancelled;
        });
    });
    m_box = new QProgressDialog(boxText, tr("Cancel"), 0, kSteps, parent);
    m_box->setWindowTitle(QCoreApplication::applicationName());
    m_box->setWindowModality(Qt::WindowModal);
    m_box->setMinimumDuration(kBoxAfterMilliseconds);
    m_box->setAutoClose(false);
    m_box->setAutoReset(false);
    connect(m_box, &QProgressDialog::canceled, this, [work = m_work] { work->cancelled = true; });
    // The box shows itself once a value is set after its delay.
    auto* progress = new QTimer(m_box);
    connect(progress, &QTimer::timeout, m_box, [box = m_box, work = m_work] {
        if (!box->wasCanceled())
            box->setValue(work->permille);
    });
    progress->start(kProgressMilliseconds);
    connect(m_thread, &QThread::finished, this, &RecordingRepair::Finish);
    m_thread->start();
}

void RecordingRepair::Finish() {
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    delete m_box;
    m_box = nullptr;
    emit finished(m_work->outcomes);
}
