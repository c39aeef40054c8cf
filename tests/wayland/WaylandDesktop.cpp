#include "tests/wayland/WaylandDesktop.h"

#include "tests/support/ExternalCommand.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace waylandtests {

namespace {

const char* const kTestUser = "tesmara-wl";
const char* const kPrograms[] = {
    "sway",    "Xwayland",  "pipewire", "wireplumber", "dbus-run-session", "xdotool", "python3",
    "swaymsg", "dbus-send", "meson",    "xhost",       "kglobalaccel5"};

std::string shellQuoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

bool waitForFile(const fs::path& file, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (fs::exists(file))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string missingProgram() {
    for (const char* program : kPrograms)
        if (std::system(("command -v " + std::string(program) + " >/dev/null").c_str()) != 0)
            return program;
    if (!fs::exists("/usr/libexec/xdg-desktop-portal"))
        return "xdg-desktop-portal";
    return {};
}

fs::path buildFolder() {
    const char* bin = std::getenv("TESMARA_BIN_DIR");
    return bin ? fs::path(bin).parent_path() : fs::path();
}

fs::path setupSources() {
    const char* source = std::getenv("TESMARA_SOURCE_DIR");
    return source ? fs::path(source) / "tests/wayland" : fs::path();
}

} // namespace

bool processAlive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return stat >> pidText >> name >> state && state != "Z";
}

WaylandDesktop::WaylandDesktop(ScreenCast screenCast) {
    if (const std::string missing = missingProgram(); !missing.empty()) {
        m_problem = "the program " + missing + " is missing (scripts/install-deps installs it)";
        return;
    }
    const fs::path backend = buildFolder() / "wayland-portal/xdg-desktop-portal-wlr";
    if (std::system(("bash " + shellQuoted(setupSources() / "build-portal-backend.sh") + " " +
                     shellQuoted(backend.parent_path()) + " >&2")
                        .c_str()) != 0) {
        m_problem = "building the patched xdg-desktop-portal-wlr failed";
        return;
    }
    if (geteuid() == 0) {
        m_user = kTestUser;
        std::system(("id -u " + m_user +
                     " >/dev/null 2>&1 || useradd --system --no-create-home"
                     " --shell /usr/sbin/nologin " +
                     m_user)
                        .c_str());
    }
    if (!prepareFolder()) {
        m_problem = "the desktop's folder could not be prepared";
        return;
    }
    const std::string f = m_folder.string();
    const bool wlroots = screenCast == ScreenCast::Wlroots;
    std::string start = "env -i HOME=" + f + "/home PATH=/usr/bin:/bin XDG_RUNTIME_DIR=" + f +
                        "/run dbus-run-session -- " + f + "/setup/session.sh " + f + " " + f +
                        (wlroots ? "/bin/xdg-desktop-portal-wlr wlr.portal"
                                 : "/bin/cursor-cast-backend cursor-cast.portal") +
                        " </dev/null > " + f + "/session.log 2>&1";
    if (!m_user.empty())
        start = "runuser -u " + m_user + " -- " + start;
    m_session = fork();
    if (m_session == 0) {
        setsid();
        execl("/bin/sh", "sh", "-c", start.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!waitForFile(m_folder / "ready", 60)) {
        m_problem = "the Wayland desktop did not start; see " + f + "/logs";
        return;
    }
    spawn("python3 " + f + "/setup/tray_watcher.py " + f + "/tray-items", "tray-watcher.log");
    if (!waitForFile(m_folder / "tray-items.up", 20))
        m_problem = "the tray watcher did not start";
}

bool WaylandDesktop::prepareFolder() {
    char pattern[] = "/tmp/tesmara-wayland-XXXXXX";
    if (!mkdtemp(pattern))
        return false;
    m_folder = pattern;
    std::error_code error;
    fs::create_directories(m_folder / "home/out", error);
    fs::create_directories(m_folder / "run", error);
    fs::permissions(m_folder / "run", fs::perms::owner_all, error);
    fs::copy(setupSources(), m_folder / "setup", fs::copy_options::recursive, error);
    fs::copy(buildFolder() / "bin", m_folder / "bin", fs::copy_options::recursive, error);
    for (const char* backend : {"xdg-desktop-portal-wlr", "cursor-cast-backend"})
        fs::copy(buildFolder() / "wayland-portal" / backend, m_folder / "bin", error);
    if (error)
        return false;
    fs::permissions(m_folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                    error);
    handOver(m_folder);
    return true;
}

void WaylandDesktop::handOver(const fs::path& path) const {
    if (!m_user.empty())
        std::system(("chown -R " + m_user + " " + shellQuoted(path)).c_str());
}

WaylandDesktop::~WaylandDesktop() {
    if (m_session > 0) {
        std::ofstream(m_folder / "quit");
        int status = 0;
        for (int i = 0; i < 50 && waitpid(m_session, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (kill(m_session, 0) == 0) {
            kill(-m_session, SIGKILL);
            waitpid(m_session, &status, 0);
        }
    }
    for (pid_t pid : m_spawned)
        kill(pid, SIGKILL);
    std::error_code ignored;
    if (!m_folder.empty())
        fs::remove_all(m_folder, ignored);
}

std::string WaylandDesktop::asUser(const std::string& command) const {
    std::string environment = "HOME=" + m_folder.string() + "/home PATH=/usr/bin:/bin";
    std::ifstream variables(m_folder / "env");
    for (std::string line; std::getline(variables, line);)
        environment += " " + shellQuoted(line);
    const std::string prefix = m_user.empty() ? "" : "runuser -u " + m_user + " -- ";
    // Nothing on the desktop reads the test's standard input, nor changes its flags.
    return prefix + "env -i " + environment + " sh -c " + shellQuoted(command) + " </dev/null";
}

int WaylandDesktop::run(const std::string& command) const {
    return std::system(asUser(command).c_str());
}

std::string WaylandDesktop::output(const std::string& command) const {
    return testsupport::commandOutput(asUser(command + " 2>/dev/null"));
}

pid_t WaylandDesktop::spawn(const std::string& command, const std::string& log) const {
    const std::string text =
        output(command + " > " + (m_folder / log).string() + " 2>&1 & echo $!");
    const auto pid = static_cast<pid_t>(std::atoi(text.c_str()));
    if (pid > 0)
        m_spawned.push_back(pid);
    return pid;
}

void WaylandDesktop::killPortalBackend() const {
    std::ifstream pidFile(m_folder / "backend.pid");
    pid_t pid = 0;
    if (pidFile >> pid && pid > 0)
        kill(pid, SIGKILL);
}

void WaylandDesktop::restartPortalBackend(const std::string& picker) {
    killPortalBackend();
    const fs::path config = m_folder / "config/xdg-desktop-portal-wlr/config";
    std::ofstream(config) << "[screencast]\nmax_fps=30\n"
                          << (picker.empty() ? "chooser_type=none\noutput_name=HEADLESS-1\n"
                                             : "chooser_type=simple\nchooser_cmd=" + picker + "\n");
    const pid_t backend =
        spawn("XDG_CONFIG_HOME=" + (m_folder / "config").string() + " " +
                  (m_folder / "bin/xdg-desktop-portal-wlr").string() + " -r -l DEBUG",
              "logs/portal-backend-again.log");
    std::ofstream(m_folder / "backend.pid") << backend << "\n";
    for (int i = 0; i < 50; ++i) {
        if (output("dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                   "org.freedesktop.DBus.NameHasOwner "
                   "string:org.freedesktop.impl.portal.desktop.wlr")
                .find("true") != std::string::npos)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace waylandtests
