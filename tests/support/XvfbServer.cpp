#include "tests/support/XvfbServer.h"

#include "tests/support/ExternalCommand.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

std::string readDisplayNumber(int fd) {
    std::string number;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return {};
        char c = 0;
        if (read(fd, &c, 1) != 1)
            return {};
        if (c == '\n')
            return number;
        number += c;
    }
}

} // namespace

XvfbServer::XvfbServer(const std::string& geometry, const std::vector<std::string>& options) {
    requireProgram("Xvfb");
    int fds[2];
    if (pipe(fds) != 0)
        return;
    std::string fdText = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb",  "-displayfd", fdText,     "-screen", "0",
                                     geometry, "-noreset",  "-nolisten", "tcp"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (m_pid > 0) {
        std::string number = readDisplayNumber(fds[0]);
        if (!number.empty())
            m_display = ":" + number;
    }
    close(fds[0]);
    if (m_display.empty())
        stop();
}

XvfbServer::~XvfbServer() { stop(); }

void XvfbServer::makeCurrent() const { setenv("DISPLAY", m_display.c_str(), 1); }

void XvfbServer::stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
}

int runOnDisplay(const XvfbServer& server, const std::string& command) {
    requireProgram(commandProgram(command));
    std::string line = "DISPLAY=" + server.display() + " " + command;
    int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace testsupport
