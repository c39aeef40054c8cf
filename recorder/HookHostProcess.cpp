#include "recorder/HookHostProcess.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <vector>

extern char** environ;

namespace {

// Long enough for the helper to drop its X connection, short enough that a
// stuck helper does not hold up the end of a recording noticeably.
constexpr int kGraceMilliseconds = 1000;
constexpr int kPollMilliseconds = 5;

bool reapWithin(pid_t pid, int milliseconds) {
    for (int waited = 0; waited <= milliseconds; waited += kPollMilliseconds) {
        pid_t result = waitpid(pid, nullptr, WNOHANG);
        if (result == pid || (result < 0 && errno == ECHILD))
            return true;
        timespec pause{0, kPollMilliseconds * 1000000L};
        nanosleep(&pause, nullptr);
    }
    return false;
}

} // namespace

HookHostProcess::~HookHostProcess() {
    Terminate();
}

bool HookHostProcess::Start(const std::string& program, uint32_t windowId) {
    Terminate();
    // The window id is written as a signed decimal number, as the helper's
    // command line has always carried it.
    std::string idText = std::to_string(static_cast<int32_t>(windowId));
    std::string programCopy = program;
    std::vector<char*> argv = {programCopy.data(), idText.data(), nullptr};

    // The helper must not inherit the recorder's signal dispositions or blocked
    // signals, or a SIGTERM from the stop could be ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int error = posix_spawn(&pid, programCopy.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return false;
    m_pid = pid;
    return true;
}

void HookHostProcess::Terminate() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    if (!reapWithin(m_pid, kGraceMilliseconds)) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
}
