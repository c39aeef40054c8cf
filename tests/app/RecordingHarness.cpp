#include "tests/app/RecordingHarness.h"

#include "hooklib/ClickChannel.h"
#include "settings/RegEdit.h"
#include "tests/support/AviDecoder.h"
#include "tests/support/ExternalCommand.h"
#include "tests/support/WaitFor.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace recordingtests {

namespace {

const char* const kDialogSearch = "xdotool search --onlyvisible --name '^Tesmara Screen Recorder$'";

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const fs::path& workingDirectory = {}, const fs::path& errorFile = "/dev/null") {
    testsupport::requireProgram(args[0]);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e)
        result.emplace_back(*e);
    return result;
}

void setVariable(std::vector<std::string>& environment, const std::string& name,
                 const std::string& value) {
    std::erase_if(environment, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
    environment.push_back(name + "=" + value);
}

void removeVariable(std::vector<std::string>& environment, const std::string& name) {
    std::erase_if(environment, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
}

void endProcess(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

fs::path binaryFolder() {
    const char* folder = std::getenv("TESMARA_BIN_DIR");
    return folder ? fs::path(folder) : fs::path();
}

Desktop::Desktop(const std::string& geometry) : m_server(geometry) {
    if (!m_server.running())
        return;
    auto environment = currentEnvironment();
    setVariable(environment, "DISPLAY", m_server.display());
    m_helpers.push_back(spawn({"openbox"}, environment));
    m_helpers.push_back(spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype",
                               "request", "--height", "24", "--SetDockType", "true"},
                              environment));
    for (int i = 0; i < 50 && output("xdotool search --class trayer").empty(); ++i)
        pause(100);
}

Desktop::~Desktop() {
    for (pid_t pid : m_helpers)
        endProcess(pid);
}

bool Desktop::ready() const {
    return m_server.running() && !output("xdotool search --class trayer").empty();
}

int Desktop::run(const std::string& command) const {
    return testsupport::runOnDisplay(m_server, command);
}

std::string Desktop::output(const std::string& command) const {
    return testsupport::commandOutput("DISPLAY=" + m_server.display() + " " + command +
                                      " 2>/dev/null");
}

ProgramRun::ProgramRun(const Desktop& desktop, Options options)
    : m_desktop(desktop), m_options(std::move(options)) {
    char pattern[] = "/tmp/tesmara-run-XXXXXX";
    m_home = mkdtemp(pattern);
    fs::create_directories(m_home / ".config/Tesmara Screen Recorder");
    fs::create_directories(m_home / ".local/share");
    fs::create_directories(m_home / "tmp");
    fs::create_directories(m_home / "stubs");
    fs::create_directories(outputFolder());
    std::string folder =
        m_options.folder.empty() ? outputFolder().string() + "/" : m_options.folder;
    std::ofstream(m_home / ".config/Tesmara Screen Recorder/settings")
        << "{\n   \"codec\" : \"" << m_options.codec
        << "\",\n   \"frameRate\" : " << m_options.frameRate
        << ",\n   \"leftClick\" : 1,\n   \"path\" : \"" << folder
        << "\",\n   \"rightClick\" : 1,\n   \"desktopSound\" : " << int(m_options.desktopSound)
        << ",\n   \"showKeys\" : " << int(m_options.showKeys)
        << ",\n   \"showTypedKeys\" : " << int(m_options.showTypedKeys)
        << ",\n   \"countdown\" : " << m_options.countdown
        << ",\n   \"stopAfter\" : " << m_options.stopAfter
        << (m_options.moreSettings.empty() ? "" : ",\n   " + m_options.moreSettings) << "\n}\n";
    fs::path opener = m_home / "stubs/xdg-open";
    std::ofstream(opener) << "#!/bin/sh\necho \"$1\" >> \"" << (m_home / "opened.txt").string()
                          << "\"\n";
    fs::permissions(opener, fs::perms::owner_all);
}

ProgramRun::~ProgramRun() {
    endProcess(m_pid);
    std::error_code ignored;
    fs::remove_all(m_home, ignored);
}

bool ProgramRun::start() {
    if (!launch() || !waitDialogVisible(true, 20))
        return false;
    m_dialog = std::stoul(m_desktop.output(kDialogSearch));
    return true;
}

bool ProgramRun::launch() {
    auto environment = currentEnvironment();
    setVariable(environment, "DISPLAY", m_desktop.server().display());
    setVariable(environment, "HOME", m_home.string());
    setVariable(environment, "XDG_CONFIG_HOME", (m_home / ".config").string());
    setVariable(environment, "XDG_DATA_HOME", (m_home / ".local/share").string());
    setVariable(environment, "TMPDIR", (m_home / "tmp").string());
    setVariable(environment, "QT_QPA_PLATFORM", "xcb");
    const char* path = std::getenv("PATH");
    setVariable(environment, "PATH",
                (m_home / "stubs").string() + ":" + (path ? path : "/usr/bin:/bin"));
    removeVariable(environment, "XDG_RUNTIME_DIR");
    if (m_options.sessionBus.empty())
        removeVariable(environment, "DBUS_SESSION_BUS_ADDRESS");
    else
        setVariable(environment, "DBUS_SESSION_BUS_ADDRESS", m_options.sessionBus);
    fs::path program =
        m_options.program.empty() ? binaryFolder() / "Kestrabole" : m_options.program;
    std::vector<std::string> command = {program.string()};
    if (m_options.fileSizeLimit > 0)
        command.insert(command.begin(),
                       {"prlimit", "--fsize=" + std::to_string(m_options.fileSizeLimit)});
    if (m_options.displayOnCommandLine) {
        removeVariable(environment, "DISPLAY");
        command.insert(command.end(), {"-display", m_desktop.server().display()});
    }
    command.insert(command.end(), m_options.arguments.begin(), m_options.arguments.end());
    m_pid = spawn(command, environment, m_options.workingDirectory, m_home / "stderr.txt");
    return m_pid > 0;
}

testsupport::CommandResult ProgramRun::command(const std::string& arguments) const {
    const fs::path program =
        m_options.program.empty() ? binaryFolder() / "Kestrabole" : m_options.program;
    return testsupport::runCommand("env HOME='" + m_home.string() + "' DBUS_SESSION_BUS_ADDRESS='" +
                                   m_options.sessionBus + "' " + program.string() + " " +
                                   arguments + " 2>&1");
}

SessionBus::SessionBus() {
    std::istringstream lines(
        testsupport::commandOutput("dbus-daemon --session --fork --print-address=1 --print-pid=1"));
    std::string pid;
    if (std::getline(lines, m_address) && std::getline(lines, pid) && !pid.empty())
        m_pid = std::stoi(pid);
    else
        m_address.clear();
}

SessionBus::~SessionBus() {
    if (m_pid > 0)
        kill(m_pid, SIGTERM);
}

// A point given in dialog units, scaled by the dialog's size in pixels against
// its size in dialog units (297 x 379), as the dialog lays itself out.
void ProgramRun::clickDialogAt(int unitsX, int unitsY) const {
    std::string window = std::to_string(m_dialog);
    m_desktop.run("sh -c 'eval $(xdotool getwindowgeometry --shell " + window +
                  "); xdotool mousemove --window " + window + " $((" + std::to_string(unitsX) +
                  " * WIDTH / 297)) $((" + std::to_string(unitsY) + " * HEIGHT / 379)) click 1'");
}

void ProgramRun::pressStartRecord() const {
    clickDialogAt(148, 251);
}

void ProgramRun::typeFrameRate(const std::string& text) const {
    clickDialogAt(86, 151);
    m_desktop.run("xdotool key ctrl+a BackSpace type " + text);
}

void ProgramRun::typePath(const std::string& text) const {
    clickDialogAt(150, 222);
    m_desktop.run("xdotool key ctrl+a BackSpace type '" + text + "'");
}

// trayer sizes its panel to the icons it holds; a press in its middle presses ours.
void ProgramRun::clickTrayIcon(int button) const {
    m_desktop.run("sh -c 'P=$(xdotool search --classname \"^panel$\" | head -n1);"
                  " xdotool mousemove --window $P 12 12 click " +
                  std::to_string(button) + "'");
}

void ProgramRun::chooseInTrayMenu(int entry) const {
    clickTrayIcon(3);
    pause(400);
    std::string keys = "xdotool key";
    for (int i = 0; i <= entry; ++i)
        keys += " Down";
    m_desktop.run(keys + " Return");
}

// The tray icon sits deep inside the tray's windows, where a name search does not
// reach, so the whole window tree is read.
std::vector<std::pair<int, int>> ProgramRun::smallWindowsNamedLikeProgram() const {
    std::vector<std::pair<int, int>> sizes;
    std::istringstream tree(m_desktop.output("xwininfo -root -tree"));
    for (std::string line; std::getline(tree, line);) {
        if (line.find("\"Kestrabole\": (") == std::string::npos)
            continue;
        std::istringstream fields(line);
        std::string id;
        fields >> id;
        if (m_desktop.output("xwininfo -id " + id).find("IsViewable") == std::string::npos)
            continue;
        auto close = line.find(')');
        int width = 0, height = 0;
        if (std::sscanf(line.c_str() + close + 1, " %dx%d", &width, &height) == 2)
            sizes.emplace_back(width, height);
    }
    return sizes;
}

bool ProgramRun::trayIconShown() const {
    for (auto [width, height] : smallWindowsNamedLikeProgram())
        if (width <= 64 && height <= 64)
            return true;
    return false;
}

bool ProgramRun::messageBoxShown() const {
    return messageBoxesShown() > 0;
}

bool ProgramRun::waitMessageBox(int seconds) const {
    return testsupport::waitFor([this] { return messageBoxShown(); }, seconds);
}

int ProgramRun::messageBoxesShown() const {
    int boxes = 0;
    for (auto [width, height] : smallWindowsNamedLikeProgram())
        boxes += width > 64;
    return boxes;
}

bool ProgramRun::waitDialogVisible(bool visible, int seconds) const {
    for (int i = 0; i < seconds * 10; ++i) {
        bool shown = visibleProgramWindows() > 0;
        if (shown == visible)
            return true;
        pause(100);
    }
    return false;
}

int ProgramRun::visibleProgramWindows() const {
    std::istringstream lines(m_desktop.output(kDialogSearch));
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        count += !line.empty();
    return count;
}

void ProgramRun::keys(const std::string& keys) const {
    m_desktop.run("xdotool key --delay 40 " + keys);
}

bool ProgramRun::sendWindowMessage(uint32_t message) const {
    Display* display = XOpenDisplay(m_desktop.server().display().c_str());
    if (!display)
        return false;
    Window replies = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    clickchannel::WindowMessage sent;
    sent.message = message;
    long result = 0;
    bool answered = clickchannel::SendAndWait(display, m_dialog, replies, sent, 2000, &result);
    XDestroyWindow(display, replies);
    XCloseDisplay(display);
    return answered;
}

void ProgramRun::signal(int number) const {
    // After a failed start there is no process: kill(-1) would signal every
    // process we may signal.
    if (m_pid > 0)
        kill(m_pid, number);
}

int ProgramRun::waitExit(int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pause(50);
    }
    endProcess(m_pid);
    m_pid = -1;
    return -1;
}

// The opener is handed file URLs; they are given back as plain paths.
std::vector<std::string> ProgramRun::opened() const {
    std::vector<std::string> files;
    std::ifstream in(m_home / "opened.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("file://", 0) == 0)
            line.erase(0, 7);
        std::string path;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '%' && i + 2 < line.size()) {
                path += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                path += line[i];
            }
        }
        files.push_back(path);
    }
    return files;
}

std::vector<fs::path> ProgramRun::recordings() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(outputFolder()))
        for (const char* extension : {".avi", ".mp4", ".mkv"})
            if (entry.path().extension() == extension)
                files.push_back(entry.path());
    return files;
}

std::string ProgramRun::errorOutput() const {
    return readFile(m_home / "stderr.txt");
}

bool ProgramRun::helperRunning() const {
    std::string children =
        readFile("/proc/" + std::to_string(m_pid) + "/task/" + std::to_string(m_pid) + "/children");
    std::istringstream pids(children);
    for (std::string child; pids >> child;)
        if (readFile("/proc/" + child + "/comm").rfind("Daltrop", 0) == 0)
            return true;
    return false;
}

uint32_t ProgramRun::publishedWindow() const {
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string savedValue = saved ? saved : "";
    setenv("XDG_DATA_HOME", (m_home / ".local/share").c_str(), 1);
    uint32_t value = CRegEdit().ReadDword(true, u"Software\\DaltropSC", u"HW");
    if (saved)
        setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    return value;
}

Probe probe(const fs::path& file) {
    Probe result;
    std::string quoted = "'" + file.string() + "'";
    result.decodes = testsupport::commandOutput("ffmpeg -v error -i " + quoted +
                                                " -f null - 2>&1; echo $?") == "0\n";
    std::istringstream packets(
        testsupport::commandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                                   "packet=pts,size -of csv=p=0 " +
                                   quoted));
    for (std::string line; std::getline(packets, line);) {
        auto comma = line.find(',');
        if (comma == std::string::npos || std::stoi(line.substr(comma + 1)) <= 0)
            continue;
        ++result.packets;
        result.lastPosition = std::max(result.lastPosition, std::stoi(line.substr(0, comma)));
    }
    std::istringstream stream(
        testsupport::commandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                                   "stream=width,height,r_frame_rate,nb_frames -of csv=p=0 " +
                                   quoted));
    char comma = 0;
    stream >> result.width >> comma >> result.height >> comma;
    std::getline(stream, result.frameRate, ',');
    stream >> result.slots;
    std::istringstream(testsupport::commandOutput(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 " + quoted)) >>
        result.duration;
    std::string bytes = readFile(file);
    // The legacy index is written when the file is completed; a cut-off file lacks it.
    result.hasIndex = bytes.find("idx1") != std::string::npos;
    return result;
}

int redPixelsAround(const fs::path& file, int x, int y) {
    std::string crop = "crop=100:100:" + std::to_string(x - 50) + ":" + std::to_string(y - 50);
    std::string pixels = testsupport::commandOutput(
        "ffmpeg -v error -i '" + file.string() + "' -vf " + crop + " -f rawvideo -pix_fmt rgb24 -");
    int red = 0;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) {
        auto r = static_cast<unsigned char>(pixels[i]);
        auto g = static_cast<unsigned char>(pixels[i + 1]);
        auto b = static_cast<unsigned char>(pixels[i + 2]);
        red += r > 160 && g < 90 && b < 90;
    }
    return red;
}

namespace {

constexpr int kStripes = 11;
// Below the tray and the pointer, which the recording draws in.
constexpr int kStripeRow = 650;

} // namespace

StripeClock::StripeClock(const std::string& display)
    : m_thread([this, display] { run(display); }) {}

StripeClock::~StripeClock() {
    m_stop = true;
    m_thread.join();
}

int StripeClock::shownNow() const {
    const auto since = std::chrono::steady_clock::now() - m_begun;
    const auto ticks =
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() / kTickMilliseconds;
    return int(ticks) * kTickMilliseconds;
}

void StripeClock::run(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display)
        return;
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int width = DisplayWidth(display, screen) / kStripes;
    GC gc = XCreateGC(display, root, 0, nullptr);
    for (int tick = 0; !m_stop; ++tick) {
        std::this_thread::sleep_until(m_begun +
                                      std::chrono::milliseconds(tick * kTickMilliseconds));
        for (int bit = 0; bit < kStripes; ++bit) {
            XSetForeground(display, gc,
                           (tick >> bit) & 1 ? WhitePixel(display, screen)
                                             : BlackPixel(display, screen));
            XFillRectangle(display, root, gc, bit * width, 0, width,
                           DisplayHeight(display, screen));
        }
        XSync(display, False);
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
}

std::vector<ClockFrame> clockFrames(const fs::path& file) {
    testsupport::AviDecoder video(file.string());
    std::vector<ClockFrame> frames;
    for (int64_t position : video.DecodedPositions()) {
        const auto picture = video.DecodeAt(position);
        if (!picture)
            continue;
        const int width = picture->width / kStripes;
        int tick = 0;
        for (int bit = 0; bit < kStripes; ++bit)
            if (picture->At(bit * width + width / 2, kStripeRow)[0] > 128)
                tick |= 1 << bit;
        frames.push_back({position, tick * StripeClock::kTickMilliseconds,
                          picture->At(picture->width / 2, picture->height / 2)});
    }
    return frames;
}

} // namespace recordingtests
