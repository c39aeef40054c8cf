#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

namespace testsupport {

// A private Xvfb server for one test program. It picks a free display number
// itself (-displayfd), so test programs and developers' sessions never collide,
// and it is ended when the object goes.
class XvfbServer {
public:
    // geometry as Xvfb takes it, e.g. "1280x720x24"; options are further
    // server arguments, e.g. {"-cc", "5"} for a DirectColor root visual
    explicit XvfbServer(const std::string& geometry = "1280x720x24",
                        const std::vector<std::string>& options = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return m_pid > 0 && !m_display.empty(); }
    const std::string& display() const { return m_display; } // ":N"

    // Makes this server the DISPLAY of the calling process (and its children).
    void makeCurrent() const;

    // Kills the server, as a crash or logout would.
    void stop();

private:
    pid_t m_pid = -1;
    std::string m_display;
};

// Runs a shell command with DISPLAY set to the given server; returns its exit status.
int runOnDisplay(const XvfbServer& server, const std::string& command);

} // namespace testsupport
