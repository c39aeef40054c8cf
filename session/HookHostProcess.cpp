#include "session/HookHostProcess.h"

#include "hooklib/HookHostExit.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utility>
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

// The helper's environment: ours, with our process id named as its parent's.
std::vector<std::string> HelperEnvironment() {
    const std::string prefix = std::string(hookhost::kParentVariable) + "=";
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        if (std::string(*variable).rfind(prefix, 0) != 0)
            variables.emplace_back(*variable);
    }
    variables.push_back(prefix + std::to_string(getpid()));
    return variables;
}

} // namespace

HookHostProcess::~HookHostProcess() {
    Terminate();
}

bool HookHostProcess::Start(const std::string& program, uint32_t windowId) {
    Terminate();
    m_failure.reset();
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

    std::vector<std::string> environment = HelperEnvironment();
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    int error =
        posix_spawn(&pid, programCopy.c_str(), nullptr, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        m_failure = Failure{error, 0, 0};
        return false;
    }
    m_pid = pid;
    return true;
}

std::optional<HookHostProcess::Failure> HookHostProcess::TakeFailure() {
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        if (WIFSIGNALED(status))
            m_failure = Failure{0, 0, WTERMSIG(status)};
        else
            m_failure = Failure{0, WEXITSTATUS(status), 0};
    }
    return std::exchange(m_failure, std::nullopt);
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
