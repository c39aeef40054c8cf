#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs body in a forked child; the child's exit status is body's result. The child
// leaves by _exit, so it never runs the parent's remaining tests.
template <typename Body> pid_t SpawnChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

// The child's exit status, or -1 when it did not exit normally.
inline int WaitForExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
