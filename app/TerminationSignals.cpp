#include "app/TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, which may do nothing but async-signal-safe calls.
volatile sig_atomic_t g_writeFd = -1;
struct sigaction g_previous[std::size(kSignals)];
// The instance that holds the handlers; a second one stays inert, so that its end
// cannot take the handlers from under the first.
const TerminationSignals* g_holder = nullptr;

void forwardToPipe(int signalNumber) {
    int savedErrno = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_writeFd >= 0 && write(g_writeFd, &byte, 1) < 0) {
        // A full pipe already holds a wake-up; nothing more to do.
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    int fds[2];
    if (g_holder || pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_holder = this;
    m_readFd = fds[0];
    g_writeFd = fds[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = forwardToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
}

TerminationSignals::~TerminationSignals() {
    if (m_readFd < 0)
        return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    m_notifier.reset();
    close(g_writeFd);
    g_writeFd = -1;
    close(m_readFd);
    g_holder = nullptr;
}

void TerminationSignals::readPipe() {
    unsigned char byte = 0;
    while (read(m_readFd, &byte, 1) == 1)
        emit received(byte);
}
