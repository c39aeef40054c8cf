#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

// The helper process that watches mouse presses for the length of one recording.
// It is started next to the program with the dialog's window id on its command line
// and ended with the recording; ending it also collects it, so no zombie is left.
class HookHostProcess {
public:
    HookHostProcess() = default;
    ~HookHostProcess();
    HookHostProcess(const HookHostProcess&) = delete;
    HookHostProcess& operator=(const HookHostProcess&) = delete;

    // program: the helper's full path (UTF-8). A running helper is ended first.
    bool Start(const std::string& program, uint32_t windowId);
    // Asks the helper to end, forces it after a grace period, and collects it.
    // Safe to repeat; does nothing when no helper was started.
    void Terminate();

    pid_t Pid() const { return m_pid; }

    // How a helper that is not doing its work fared: it could not be started
    // (spawnError, an errno value), or it ended on its own (collected then).
    struct Failure {
        int spawnError = 0;
        int exitCode = 0;
        int signal = 0;
    };
    // Looks without waiting; a failure is handed out once.
    std::optional<Failure> TakeFailure();

private:
    pid_t m_pid = -1;
    std::optional<Failure> m_failure;
};
