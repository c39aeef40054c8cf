#pragma once

#include "tests/support/ExternalCommand.h"
#include "tests/support/XvfbServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace recordingtests {

// A desktop for the whole program: a private X server with a window manager and
// a tray, started once for a group of tests.
class Desktop {
public:
    explicit Desktop(const std::string& geometry = "1280x720x24");
    ~Desktop();
    bool ready() const;
    const testsupport::XvfbServer& server() const { return m_server; }
    // Runs a command on this desktop; its exit status.
    int run(const std::string& command) const;
    std::string output(const std::string& command) const;
    // Kills the X server, as a crash or the end of a session would.
    void loseServer() { m_server.stop(); }

private:
    testsupport::XvfbServer m_server;
    std::vector<pid_t> m_helpers;
};

// One run of the real program on a desktop, with a home of its own (settings,
// value store, temporary folder), a desktop opener that only notes what it
// was asked to open, and its standard error kept.
class ProgramRun {
public:
    struct Options {
        unsigned frameRate = 18;
        std::string codec;             // the saved codec; empty: the preferred one
        std::string folder;            // the saved output folder; empty: the run's own "out/"
        std::filesystem::path program; // empty: the built program
        std::filesystem::path workingDirectory;
        uint64_t fileSizeLimit = 0; // bytes any file may grow to, as on a full disk; 0: none
        // The desktop is named by Qt's -display option instead of DISPLAY.
        bool displayOnCommandLine = false;
        bool desktopSound = false; // "Record desktop sound" ticked
        bool showKeys = false;     // "Show keys pressed" ticked
        bool showTypedKeys = false;
        unsigned countdown = 0; // the saved delay, seconds
        unsigned stopAfter = 0; // the saved stop time, seconds; 0: off
        // The session bus the program is given; empty: none, as by default.
        std::string sessionBus;
        std::vector<std::string> arguments; // after the program's name
        // Members added to the settings file as written, e.g. "\"area\" : \"all\"".
        std::string moreSettings;
    };

    ProgramRun(const Desktop& desktop, Options options);
    ProgramRun(const Desktop& desktop) : ProgramRun(desktop, Options{}) {}
    ~ProgramRun();

    const std::filesystem::path& home() const { return m_home; }
    std::filesystem::path outputFolder() const { return m_home / "out"; }

    // Starts the program and waits for its dialog; false when it did not show.
    bool start();
    // Starts the program without waiting for anything; false when it did not start.
    bool launch();
    // Runs the program again with these arguments, as a command to this one, with
    // the same home and bus; its exit status, and what it printed on both streams.
    testsupport::CommandResult command(const std::string& arguments) const;
    unsigned long dialog() const { return m_dialog; }
    pid_t pid() const { return m_pid; }

    void clickDialogAt(int unitsX, int unitsY) const;
    void pressStartRecord() const;
    void typeFrameRate(const std::string& text) const;
    void typePath(const std::string& text) const;
    // Presses a mouse button on the program's tray icon.
    void clickTrayIcon(int button) const;
    // Opens the tray icon's menu with the right button and chooses its entry
    // (0 the first) with the keyboard.
    void chooseInTrayMenu(int entry) const;
    bool trayIconShown() const;
    // The program's message boxes carry its name as their title.
    bool messageBoxShown() const;
    // A message box comes some time after the step that causes it.
    bool waitMessageBox(int seconds = 10) const;
    int messageBoxesShown() const;
    bool waitDialogVisible(bool visible, int seconds = 10) const;
    // How many windows titled like the dialog are on screen.
    int visibleProgramWindows() const;
    void keys(const std::string& keys) const;

    // Sends a window message to the dialog as another process would, and waits
    // for the answer; false when none came.
    bool sendWindowMessage(uint32_t message) const;

    void signal(int number) const;
    // Waits for the program to end; its exit status, or -1 when it had to be killed.
    int waitExit(int seconds = 10);

    // Every file the program asked the desktop to open.
    std::vector<std::string> opened() const;
    // The recordings (AVI, MP4, Matroska) in the output folder.
    std::vector<std::filesystem::path> recordings() const;
    // What the program wrote to its standard error, over all its starts.
    std::string errorOutput() const;
    // Whether the helper process runs as the program's child.
    bool helperRunning() const;
    // The window id published for the helper ("HW"), as read from this run's
    // store; 0xFFFFFFFF when it is not there.
    uint32_t publishedWindow() const;

private:
    // Sizes of the viewable windows titled with the program's name (tray icon, boxes).
    std::vector<std::pair<int, int>> smallWindowsNamedLikeProgram() const;

    const Desktop& m_desktop;
    Options m_options;
    std::filesystem::path m_home;
    pid_t m_pid = -1;
    unsigned long m_dialog = 0;
};

// A private session bus (dbus-daemon), for as long as the object lives.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    // Empty when the daemon did not start.
    const std::string& address() const { return m_address; }

private:
    std::string m_address;
    pid_t m_pid = -1;
};

// What ffprobe and ffmpeg make of a recording.
struct Probe {
    bool decodes = false;  // every frame decodes without an error
    int packets = 0;       // frames with data
    int lastPosition = -1; // highest frame position with data
    int slots = 0;         // the stream's length: frames, repeats and gaps
    int width = 0, height = 0;
    std::string frameRate; // "18/1"
    bool hasIndex = false; // the file was completed with its index
    double duration = 0;   // seconds, as the file states it; 0 when it states none
};
Probe probe(const std::filesystem::path& file);

// Reddish pixels (a left-button mark) in a 100 x 100 square around x, y, over all
// frames of a recording.
int redPixelsAround(const std::filesystem::path& file, int x, int y);

// Shows on the whole screen, as black and white stripes, how many ticks have
// passed since it began, so each frame of a recording tells when it was taken.
class StripeClock {
public:
    static constexpr int kTickMilliseconds = 20;

    explicit StripeClock(const std::string& display);
    ~StripeClock();
    // The milliseconds the stripes show at this moment.
    int shownNow() const;

private:
    void run(const std::string& displayName);

    const std::chrono::steady_clock::time_point m_begun = std::chrono::steady_clock::now();
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct ClockFrame {
    int64_t position; // on the file's time line, in frame periods
    int shownMilliseconds;
    std::array<uint8_t, 3> centre; // the screen's middle pixel
};
// Every frame of a recording of a StripeClock, with the time it shows.
std::vector<ClockFrame> clockFrames(const std::filesystem::path& file);

// The built program's folder.
std::filesystem::path binaryFolder();

} // namespace recordingtests
