#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace waylandtests {

// A headless Wayland desktop (sway with XWayland, PipeWire, WirePlumber, the
// desktop portal and its wlroots back end, a tray watcher) in a D-Bus session
// of its own, run by an unprivileged user: sway refuses root, so a root test
// run creates a test user and works as that user. Everything the desktop's
// user must read is copied into the desktop's own folder.
class WaylandDesktop {
public:
    // Who shares the screen: the patched wlroots portal backend, which draws the
    // pointer in, or the tests' own, which shares a made-up screen and gives the
    // pointer as metadata beside it (tests/wayland/cast-backend).
    enum class ScreenCast { Wlroots, CursorMetadata };

    explicit WaylandDesktop(ScreenCast screenCast = ScreenCast::Wlroots);
    ~WaylandDesktop();
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    // Empty when the desktop is up, else what went wrong.
    const std::string& problem() const { return m_problem; }
    const std::filesystem::path& folder() const { return m_folder; }

    // Runs a shell command as the desktop's user inside its session; its exit status.
    int run(const std::string& command) const;
    // The same, giving what it printed.
    std::string output(const std::string& command) const;
    // Starts a command in the background; its process id.
    pid_t spawn(const std::string& command, const std::string& log) const;

    // Gives what the tests made to the desktop's user.
    void handOver(const std::filesystem::path& path) const;

    // Restarts the portal's back end. Without a picker command the one monitor is
    // shared unasked; with one, the command is the picker, which answers with the
    // output's name (or declines by failing).
    void restartPortalBackend(const std::string& picker = {});
    void killPortalBackend() const;

private:
    bool prepareFolder();
    std::string asUser(const std::string& command) const;

    std::filesystem::path m_folder;
    std::string m_user; // empty when the tests do not run as root
    std::string m_problem;
    pid_t m_session = -1;
    mutable std::vector<pid_t> m_spawned; // ended with the desktop
};

// The process still exists.
bool processAlive(pid_t pid);

} // namespace waylandtests
