#include "tests/support/AviDecoder.h"
#include "tests/support/WaitFor.h"
#include "tests/wayland/WaylandDesktop.h"

#include <gtest/gtest.h>

// X11's macros would take gtest's names.
#include "hooklib/ClickChannel.h"
#include "hooklib/ScopedWindow.h"
#include "hooklib/XConnection.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::waitFor;
using waylandtests::WaylandDesktop;

namespace {

constexpr unsigned kFrameRate = 10;
const char* const kDialogSearch = "xdotool search --onlyvisible --name '^Tesmara Screen Recorder$'";
const char* const kMessageBoxSearch = "xdotool search --onlyvisible --name '^Kestrabole$'";

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool near(std::array<uint8_t, 3> pixel, std::array<uint8_t, 3> expected) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(int(pixel[i]) - int(expected[i])) > 24)
            return false;
    return true;
}

// One run of the whole program on the desktop, with its own settings, output
// folder and desktop opener; the value store (where the portal's restore token
// is kept) lives in a folder the caller names, so runs can share it.
class Program {
public:
    // marks: left and right presses are marked; more: further settings members.
    Program(const WaylandDesktop& desktop, const std::string& name, const std::string& store,
            bool marks = false, const std::string& more = {})
        : m_desktop(desktop), m_home(desktop.folder() / "home" / name),
          m_store(desktop.folder() / "home" / store), m_name(name) {
        fs::create_directories(m_home / "config/Tesmara Screen Recorder");
        fs::create_directories(m_home / "out");
        fs::create_directories(m_home / "tmp");
        fs::create_directories(m_store);
        std::ofstream(m_home / "config/Tesmara Screen Recorder/settings")
            << "{ \"codec\" : \"\", \"frameRate\" : " << kFrameRate << ", \"leftClick\" : " << marks
            << ", \"rightClick\" : " << marks << ", \"path\" : \"" << (m_home / "out").string()
            << "/\"" << (more.empty() ? "" : ", " + more) << " }\n";
        desktop.handOver(m_home);
        desktop.handOver(m_store);
    }

    // Its dialog must be gone before the next run's is looked for.
    ~Program() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        waitFor([&] { return !waylandtests::processAlive(m_pid); }, 5);
    }

    void launch(const std::string& environment = {}) {
        const std::string home = m_home.string();
        m_pid = m_desktop.spawn(
            environment + " XDG_CONFIG_HOME=" + home + "/config XDG_DATA_HOME=" + m_store.string() +
                " TMPDIR=" + home + "/tmp exec " + (m_desktop.folder() / "bin/Kestrabole").string(),
            log().string());
    }

    bool start() {
        launch();
        return waitFor([&] { return dialogShown(); }, 30);
    }

    fs::path log() const { return m_desktop.folder() / "logs" / (m_name + ".log"); }

    // The dialog's X window (it lives in XWayland); found while it is shown.
    std::string dialogWindow() const {
        std::string window = m_desktop.output(kDialogSearch + std::string(" | head -n1"));
        window.erase(window.find_last_not_of(" \n") + 1);
        return window;
    }

    // Clicks the dialog at a point of its template (297 x 379 units).
    void clickDialogAt(int x, int y) const {
        const std::string window = dialogWindow();
        m_desktop.run("eval $(xdotool getwindowgeometry --shell " + window +
                      "); xdotool mousemove --window " + window + " $((" + std::to_string(x) +
                      " * WIDTH / 297)) $((" + std::to_string(y) + " * HEIGHT / 379)) click 1");
    }

    void pressStartRecord() const { clickDialogAt(148, 251); }
    void pressSelect() const { clickDialogAt(202, 167); }

    // Qt's tray icon is a StatusNotifierItem: an object the program serves
    // while the icon is shown, registered with the tests' tray watcher.
    bool trayIconShown() const {
        return callTrayIcon("--print-reply",
                            "org.freedesktop.DBus.Properties.Get "
                            "string:org.kde.StatusNotifierItem string:Status") == 0;
    }

    // As a tray host does on a left click.
    void clickTrayIcon() const {
        callTrayIcon("--type=method_call", "org.kde.StatusNotifierItem.Activate int32:0 int32:0");
    }

    bool dialogShown() const { return !m_desktop.output(kDialogSearch).empty(); }
    bool messageBoxShown() const { return !m_desktop.output(kMessageBoxSearch).empty(); }
    bool helperRunning() const {
        return !m_desktop.output("pgrep -P " + std::to_string(m_pid) + " -x Daltrop").empty();
    }

    std::vector<fs::path> recordings() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(m_home / "out"))
            files.push_back(entry.path());
        return files;
    }

    // Starts a recording and waits until it runs (the file is open, the icon shown).
    bool record() {
        pressStartRecord();
        return waitFor([&] { return !recordings().empty() && trayIconShown(); }, 20);
    }

    // Presses the portal's stop shortcut as KDE's key daemon does when its key goes
    // down, until the dialog is back (the binding may still be on its way); true
    // when it came back.
    bool stopThroughShortcut() {
        for (int press = 0; press < 15; ++press) {
            m_desktop.run(
                "for c in $(dbus-send --session --print-reply --dest=org.kde.kglobalaccel "
                "/kglobalaccel org.kde.KGlobalAccel.allComponents | grep -o "
                "'/component/[^\"]*'); do dbus-send --session --print-reply "
                "--dest=org.kde.kglobalaccel "
                "$c org.kde.kglobalaccel.Component.invokeShortcut string:stop-recording; "
                "done >/dev/null 2>&1");
            if (waitFor([&] { return dialogShown(); }, 1))
                return true;
        }
        return false;
    }

    // Stops through the tray icon; true when the dialog came back.
    bool stopThroughTray() {
        clickTrayIcon();
        return waitFor([&] { return dialogShown(); }, 20);
    }

private:
    int callTrayIcon(const std::string& kind, const std::string& call) const {
        return m_desktop.run("grep '^" + std::to_string(m_pid) + " ' " +
                             (m_desktop.folder() / "tray-items").string() +
                             " | tail -n1 | { read pid name path && dbus-send --session " + kind +
                             " --dest=$name $path " + call + "; } >/dev/null 2>&1");
    }

    const WaylandDesktop& m_desktop;
    fs::path m_home;
    fs::path m_store;
    std::string m_name;
    pid_t m_pid = -1;
};

struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The first shown X window whose name matches; no size when there is none.
Geometry windowGeometry(const WaylandDesktop& desktop, const std::string& name) {
    std::istringstream lines(desktop.output("xdotool search --onlyvisible --name '" + name +
                                            "' | head -n1 | xargs -r xdotool "
                                            "getwindowgeometry --shell"));
    Geometry geometry;
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const int value = std::atoi(line.c_str() + equals + 1);
        if (name == "X")
            geometry.x = value;
        else if (name == "Y")
            geometry.y = value;
        else if (name == "WIDTH")
            geometry.width = value;
        else if (name == "HEIGHT")
            geometry.height = value;
    }
    return geometry;
}

// The last picture that decodes; none when nothing does.
std::optional<testsupport::RgbImage> lastPicture(testsupport::AviDecoder& video) {
    const auto positions = video.DecodedPositions();
    if (positions.empty())
        return std::nullopt;
    return video.DecodeAt(positions.back());
}

// Sends a press message to the dialog as the helper does, and waits for its answer.
bool sendPress(const WaylandDesktop& desktop, const std::string& dialog, uint32_t message) {
    // XWayland lets in only the desktop's user unless told otherwise.
    desktop.run("xhost +si:localuser:" + std::string(getpwuid(geteuid())->pw_name) + " >/dev/null");
    setenv("DISPLAY", desktop.output("echo $DISPLAY | tr -d '\\n'").c_str(), 1);
    const auto connection = XConnection::Open();
    if (!connection)
        return false;
    Display* display = connection->display();
    const ScopedWindow replies(
        display, XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0));
    clickchannel::WindowMessage press;
    press.message = message;
    return clickchannel::SendAndWait(display, std::stoul(dialog), replies.get(), press, 5000);
}

// A left press half a second into the recording, then the stop through the tray
// and the box that the dialog shows when it is back.
bool pressLeftThenStop(const WaylandDesktop& desktop, Program& program, const std::string& dialog) {
    pause(500);
    if (!sendPress(desktop, dialog, clickchannel::kLeftButtonDown))
        return false;
    pause(1000);
    return program.stopThroughTray() &&
           waitFor([&] { return program.messageBoxShown(); }, 10);
}

// A recording with presses marked and one left press, stopped through the tray;
// more: further settings members. Nothing when any step failed.
std::optional<fs::path> recordAPress(const WaylandDesktop& desktop, const std::string& name,
                                     const std::string& more = {}) {
    Program program(desktop, name, name + "-store", true, more);
    if (!program.start())
        return std::nullopt;
    const std::string dialog = program.dialogWindow();
    if (dialog.empty() || !program.record() || !pressLeftThenStop(desktop, program, dialog) ||
        program.recordings().size() != 1)
        return std::nullopt;
    return program.recordings().front();
}

class WaylandRecording : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_desktop = new WaylandDesktop; }
    static void TearDownTestSuite() {
        delete s_desktop;
        s_desktop = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_desktop->problem(), ""); }
    void TearDown() override {
        if (m_pickerFails)
            s_desktop->restartPortalBackend();
    }

    static WaylandDesktop* s_desktop;
    static constexpr const char* kDecliningPicker = "false";
    bool m_pickerFails = false; // the back end was changed or stopped
};

WaylandDesktop* WaylandRecording::s_desktop = nullptr;

} // namespace

TEST_F(WaylandRecording, RecordsTheOutputAndAWindowUntilTheTrayStopsIt) {
    WaylandDesktop& desktop = *s_desktop;
    // The known window floats in the output's middle.
    desktop.run("swaymsg output HEADLESS-1 bg '#c03020' solid_color >/dev/null; swaymsg "
                "'for_window [title=\"^known-window$\"] floating enable' >/dev/null");
    Program program(desktop, "colours", "colours-store");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    desktop.spawn("display -title known-window -size 320x200 xc:'#2040c0'", "logs/window.log");
    ASSERT_TRUE(waitFor(
        [&] { return !desktop.output("xdotool search --onlyvisible --name known-window").empty(); },
        20));
    pause(2000);
    ASSERT_TRUE(program.stopThroughTray());
    EXPECT_FALSE(program.trayIconShown());

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    EXPECT_EQ(video.Width(), 1280);
    EXPECT_EQ(video.Height(), 720);
    // The first picture may come late (the portal sends one when something
    // changes), so the colours are read from the last frame.
    const auto last = lastPicture(video);
    ASSERT_TRUE(last);
    EXPECT_TRUE(near(last->At(100, 600), {0xc0, 0x30, 0x20}));
    EXPECT_TRUE(near(last->At(640, 360), {0x20, 0x40, 0xc0}));
}

// Select... takes a still of the monitor the portal shares for regions and shows
// it in a window of ours; the rectangle dragged there is cut from that monitor's
// stream: the video has its size, and each corner the scene's colour there.
TEST_F(WaylandRecording, RegionDraggedOnAStillOfTheSharedMonitorIsRecordedCropped) {
    WaylandDesktop& desktop = *s_desktop;
    desktop.run("swaymsg output HEADLESS-1 bg '#c03020' solid_color >/dev/null; swaymsg "
                "'for_window [title=\"^region-window$\"] floating enable, move position 100 100' "
                ">/dev/null");
    desktop.spawn("display -title region-window -size 320x200 xc:'#20a040'",
                  "logs/region-window.log");
    Geometry scene;
    ASSERT_TRUE(waitFor(
        [&] { return (scene = windowGeometry(desktop, "^region-window$")).width > 0; }, 20));
    // Only the region's top left quarter lies on the window.
    const int left = scene.x + scene.width / 2;
    const int top = scene.y + scene.height / 2;
    Program program(desktop, "region", "region-store", false, "\"area\" : \"region\"");
    ASSERT_TRUE(program.start());
    program.pressSelect();
    Geometry picker;
    ASSERT_TRUE(waitFor(
        [&] { return (picker = windowGeometry(desktop, "^Drag the region")).width > 0; }, 30));
    // The still is the whole 1280 x 720 monitor, shown as large as the picker.
    const auto onPicker = [&](int x, int y) {
        return " " + std::to_string(picker.x + x * picker.width / 1280) + " " +
               std::to_string(picker.y + y * picker.height / 720);
    };
    desktop.run("xdotool mousemove" + onPicker(left, top) + " mousedown 1 mousemove" +
                onPicker(left + 100, top + 100) + " mousemove" +
                onPicker(left + scene.width, top + scene.height) + " mouseup 1 key Return");
    ASSERT_TRUE(waitFor([&] { return program.dialogShown(); }, 10));
    ASSERT_TRUE(program.record());
    pause(1500);
    ASSERT_TRUE(program.stopThroughTray());

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    EXPECT_NEAR(video.Width(), scene.width, 4);
    EXPECT_NEAR(video.Height(), scene.height, 4);
    const auto last = lastPicture(video);
    ASSERT_TRUE(last);
    const int right = video.Width() - 6;
    const int bottom = video.Height() - 6;
    const std::array<uint8_t, 3> window{0x20, 0xa0, 0x40}, background{0xc0, 0x30, 0x20};
    EXPECT_TRUE(near(last->At(5, 5), window));
    EXPECT_TRUE(near(last->At(right, 5), background));
    EXPECT_TRUE(near(last->At(5, bottom), background));
    EXPECT_TRUE(near(last->At(right, bottom), background));
}

// On Wayland the stop key comes as the portal's global shortcut: it stops the
// recording as F9 does, and the file is completed.
TEST_F(WaylandRecording, PortalStopShortcutStopsAndCompletesTheFile) {
    WaylandDesktop& desktop = *s_desktop;
    Program program(desktop, "shortcut", "shortcut-store");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    pause(1500);
    ASSERT_TRUE(program.stopThroughShortcut()) << "see " << program.log();
    EXPECT_FALSE(program.trayIconShown());
    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    EXPECT_FALSE(video.DecodedPositions().empty());
}

// The wlroots portal draws the pointer in and does not say where it is: a press is
// left unmarked rather than ringed where XWayland last saw the pointer, and the
// dialog says why when it comes back.
TEST_F(WaylandRecording, PressOnADrawnInPointerIsLeftUnmarkedAndTheDialogSaysSo) {
    WaylandDesktop& desktop = *s_desktop;
    desktop.run("swaymsg output HEADLESS-1 bg '#808080' solid_color >/dev/null");
    Program program(desktop, "drawn-in", "drawn-in-store", true);
    ASSERT_TRUE(program.start());
    const std::string dialog = program.dialogWindow();
    ASSERT_FALSE(dialog.empty());
    ASSERT_TRUE(program.record());
    // Where XWayland saw the pointer last: on the Start Record button.
    int x = -1, y = -1;
    std::sscanf(desktop.output("xdotool getmouselocation").c_str(), "x:%d y:%d", &x, &y);
    ASSERT_TRUE(x >= 40 && y >= 40 && x < 1240 && y < 680) << x << "," << y;
    ASSERT_TRUE(pressLeftThenStop(desktop, program, dialog));
    EXPECT_NE(desktop.output("cat " + program.log().string()).find("draws the pointer into"),
              std::string::npos);

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    EXPECT_EQ(testsupport::MarksAround(video, x, y).red, 0);
}

// A region kept from another monitor's pixels may lie off the one shared now: the
// whole shared monitor is recorded, and the note says that monitor, not the
// primary screen.
TEST_F(WaylandRecording, RegionOffTheSharedMonitorRecordsThatMonitorAndSaysSo) {
    Program program(*s_desktop, "off-region", "off-region-store", false,
                    "\"area\" : \"region\", \"region\" : [5000, 5000, 200, 100]");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    pause(1000);
    ASSERT_TRUE(program.stopThroughTray());
    ASSERT_TRUE(waitFor([&] { return program.messageBoxShown(); }, 10));

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    EXPECT_EQ(video.Width(), 1280);
    EXPECT_EQ(video.Height(), 720);
    const std::string log = s_desktop->output("cat " + program.log().string());
    EXPECT_NE(log.find("no part of the shared monitor, so the whole monitor was recorded"),
              std::string::npos)
        << log;
}

TEST_F(WaylandRecording, StillScreenGivesTheWholeTimeLine) {
    Program program(*s_desktop, "still", "still-store");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    const int seconds = 3;
    pause(seconds * 1000);
    ASSERT_TRUE(program.stopThroughTray());

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    // Nothing moved, so the portal sent next to no pictures; the slots are filled all the
    // same, the still screen as repeats of the pictures there were. The file holds a
    // picture every 0.3 s and in its last slots: 12 of 30, more only where something
    // on the desktop changed.
    EXPECT_GE(video.DeclaredFrames(), int64_t(seconds * kFrameRate));
    const std::vector<int64_t> pictures = video.DecodedPositions();
    ASSERT_FALSE(pictures.empty());
    EXPECT_LT(pictures.size(), size_t(seconds * kFrameRate) * 2 / 3);
}

TEST_F(WaylandRecording, SecondRecordingReusesTheSharingPermission) {
    {
        Program first(*s_desktop, "first", "permission-store");
        ASSERT_TRUE(first.start());
        ASSERT_TRUE(first.record());
        ASSERT_TRUE(first.stopThroughTray());
    }
    // Any picker from now on declines: only the kept permission can start a recording.
    s_desktop->restartPortalBackend(kDecliningPicker);
    m_pickerFails = true;
    Program second(*s_desktop, "second", "permission-store");
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(second.record());
    pause(1000);
    ASSERT_TRUE(second.stopThroughTray());
    ASSERT_EQ(second.recordings().size(), 1u);
    testsupport::AviDecoder video(second.recordings().front());
    EXPECT_GE(video.DeclaredFrames(), int64_t(kFrameRate));
    EXPECT_FALSE(video.DecodedPositions().empty());
}

// Beside "A monitor", Select... asks the desktop's picker again though a choice is
// kept (not the region's picker: no region is dragged); a new choice replaces the
// kept one, a declined picker keeps it, and it still starts a recording unasked.
TEST_F(WaylandRecording, SelectAsksThePickerAgainAndADeclineKeepsTheChoice) {
    {
        Program first(*s_desktop, "picked", "picked-store");
        ASSERT_TRUE(first.start());
        ASSERT_TRUE(first.record());
        ASSERT_TRUE(first.stopThroughTray());
    }
    const fs::path asked = s_desktop->folder() / "picker-asked";
    const std::string picker = "touch " + asked.string() + "; ";
    m_pickerFails = true;
    s_desktop->restartPortalBackend(picker + "echo HEADLESS-1");
    Program program(*s_desktop, "picked-again", "picked-store");
    ASSERT_TRUE(program.start());
    const auto selectAgain = [&] {
        program.pressSelect();
        EXPECT_TRUE(waitFor([&] { return fs::exists(asked); }, 20)) << "the picker was not asked";
        fs::remove(asked);
        return waitFor([&] { return program.dialogShown(); }, 20);
    };
    ASSERT_TRUE(selectAgain());
    s_desktop->restartPortalBackend(picker + "false");
    ASSERT_TRUE(selectAgain());
    EXPECT_FALSE(program.messageBoxShown()) << "a declined picker is said nothing of";
    ASSERT_TRUE(program.record());
    pause(1000);
    ASSERT_TRUE(program.stopThroughTray());
    EXPECT_FALSE(fs::exists(asked)) << "the kept choice was not used";
    EXPECT_EQ(program.recordings().size(), 1u);
}

TEST_F(WaylandRecording, DeclinedPickerUndoesTheStartWithAMessage) {
    s_desktop->restartPortalBackend(kDecliningPicker);
    m_pickerFails = true;
    Program program(*s_desktop, "declined", "declined-store");
    ASSERT_TRUE(program.start());
    program.pressStartRecord();
    ASSERT_TRUE(waitFor([&] { return program.messageBoxShown(); }, 30));
    EXPECT_FALSE(program.trayIconShown());
    EXPECT_FALSE(program.helperRunning());
}

TEST_F(WaylandRecording, SharingEndedMidRecordingKeepsTheFileAndSaysSo) {
    Program program(*s_desktop, "ended", "ended-store");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    pause(1500);
    s_desktop->killPortalBackend();
    m_pickerFails = true; // the back end has to come back for the next test
    ASSERT_TRUE(waitFor([&] { return program.messageBoxShown(); }, 20));
    EXPECT_TRUE(program.dialogShown());
    EXPECT_FALSE(program.trayIconShown());
    EXPECT_FALSE(program.helperRunning());
    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    EXPECT_GE(video.DeclaredFrames(), int64_t(kFrameRate));
    EXPECT_FALSE(video.DecodedPositions().empty());
}

TEST_F(WaylandRecording, WithoutAnXDisplayTheProgramSaysWhatIsMissing) {
    Program program(*s_desktop, "nox", "nox-store");
    program.launch("DISPLAY=");
    EXPECT_TRUE(waitFor(
        [&] {
            return s_desktop->output("cat " + program.log().string()).find("needs an X display") !=
                   std::string::npos;
        },
        10));
    // The box is a Wayland window, titled with the program's name.
    EXPECT_TRUE(waitFor(
        [&] {
            return s_desktop->output("swaymsg -t get_tree").find("\"name\": \"Kestrabole\"") !=
                   std::string::npos;
        },
        10));
}

// A desktop whose portal gives the pointer beside the picture and shares single
// windows, as GNOME's and KDE's do (the tests' own back end).
class WaylandCursorCast : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_desktop = new WaylandDesktop(WaylandDesktop::ScreenCast::CursorMetadata);
    }
    static void TearDownTestSuite() {
        delete s_desktop;
        s_desktop = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_desktop->problem(), ""); }

    static WaylandDesktop* s_desktop;
};

WaylandDesktop* WaylandCursorCast::s_desktop = nullptr;

// A desktop whose portal gives the pointer beside the picture (GNOME's and KDE's
// do): a press is ringed where that pointer is, not where XWayland last saw the
// pointer. This machine has no input device to read, so the dialog says once that
// presses need the "input" group, and the recording is made all the same.
TEST_F(WaylandCursorCast, PressIsRingedAtTheMetadataPointerWithoutAnyInputDevice) {
    const auto recording = recordAPress(*s_desktop, "marks");
    ASSERT_TRUE(recording);
    testsupport::AviDecoder video(*recording);
    ASSERT_TRUE(video.IsOpen());
    ASSERT_EQ(video.Width(), 640);
    const auto marks = testsupport::MarksAround(video, 200, 120);
    EXPECT_GT(marks.red, 20);
    EXPECT_EQ(marks.green, 0);
    // The metadata's white pointer, its hot spot at (200, 120), beside the ring.
    const auto last = lastPicture(video);
    ASSERT_TRUE(last);
    EXPECT_TRUE(near(last->At(212, 132), {0xff, 0xff, 0xff}));
    EXPECT_TRUE(near(last->At(400, 300), {0x20, 0x60, 0x60}));
}

// A region is cut from the monitor's stream: the pointer and a press inside it are
// drawn at their places in the region, and a press outside it leaves no ring.
TEST_F(WaylandCursorCast, PressInARegionIsRingedInTheRegionsPixelsAndOutsideItNotAtAll) {
    const auto inside = recordAPress(*s_desktop, "region-in",
                                     R"("area" : "region", "region" : [100, 60, 300, 200])");
    ASSERT_TRUE(inside);
    testsupport::AviDecoder video(*inside);
    ASSERT_EQ(video.Width(), 300);
    EXPECT_GT(testsupport::MarksAround(video, 100, 60).red, 20);
    const auto last = lastPicture(video);
    ASSERT_TRUE(last);
    EXPECT_TRUE(near(last->At(112, 72), {0xff, 0xff, 0xff}));

    // Left of the pointer at (200, 120): a ring left where the monitor has it would show.
    const auto outside = recordAPress(*s_desktop, "region-out",
                                      R"("area" : "region", "region" : [250, 150, 300, 200])");
    ASSERT_TRUE(outside);
    testsupport::AviDecoder outsideVideo(*outside);
    ASSERT_EQ(outsideVideo.Width(), 300);
    EXPECT_EQ(testsupport::MarksAround(outsideVideo, 200, 120).red, 0);
    EXPECT_EQ(testsupport::MarksAround(outsideVideo, 0, 0).red, 0);
}

// "A window" shares one window through the portal: the video has the window's
// size and colour, and once the window has grown it is fitted in with black bars.
TEST_F(WaylandCursorCast, WindowIsRecordedAtItsSizeAndFittedWithBarsWhenItGrows) {
    Program program(*s_desktop, "window", "window-store", false, R"("area" : "window")");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    // The back end's window grows from 320 x 240 to 480 x 240 1.5 s into its stream.
    pause(3500);
    ASSERT_TRUE(program.stopThroughTray());

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    ASSERT_EQ(video.Width(), 320);
    ASSERT_EQ(video.Height(), 240);
    const std::array<uint8_t, 3> window{0xc0, 0x80, 0x20}, black{0, 0, 0};
    const auto positions = video.DecodedPositions();
    ASSERT_FALSE(positions.empty());
    const auto first = video.DecodeAt(positions.front());
    ASSERT_TRUE(first);
    EXPECT_TRUE(near(first->At(160, 5), window));
    EXPECT_TRUE(near(first->At(60, 200), window));
    // 320 x 160, with bars of 40 rows above and below.
    const auto last = lastPicture(video);
    ASSERT_TRUE(last);
    EXPECT_TRUE(near(last->At(160, 5), black));
    EXPECT_TRUE(near(last->At(160, 230), black));
    EXPECT_TRUE(near(last->At(60, 150), window));
}

// The back end says where each frame changed, and its screen is still but for a
// square that changes colour every half second, partly inside the region recorded:
// most slots are repeats, and the video has the square in both colours where the
// region holds it, around a screen that stays as it was.
TEST_F(WaylandCursorCast, DamageMetadataLeavesAStillScreenToRepeatsAndEachChangeShows) {
    // The square covers (560, 296) to (608, 336) of the screen.
    Program program(*s_desktop, "damage", "damage-store", false,
                    R"("area" : "region", "region" : [500, 250, 100, 80])");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.record());
    pause(3000);
    ASSERT_TRUE(program.stopThroughTray());

    const std::string log = s_desktop->output("cat " + program.log().string());
    const size_t counts = log.find("recorded ");
    ASSERT_NE(counts, std::string::npos) << log;
    unsigned frames = 0, repeats = 0;
    ASSERT_EQ(
        std::sscanf(log.c_str() + counts, "recorded %u frames, %u repeats", &frames, &repeats), 2);
    // About seven changes in thirty slots; a picture that came without a change
    // would make a frame of every slot.
    EXPECT_GT(repeats, frames) << log.substr(counts);

    ASSERT_EQ(program.recordings().size(), 1u);
    testsupport::AviDecoder video(program.recordings().front());
    ASSERT_TRUE(video.IsOpen());
    ASSERT_EQ(video.Width(), 100);
    const std::array<uint8_t, 3> screen{0x20, 0x60, 0x60}, yellow{0xf0, 0xd0, 0x00},
        purple{0x60, 0x20, 0xa0};
    bool yellowSeen = false, purpleSeen = false;
    for (const int64_t position : video.DecodedPositions()) {
        const auto picture = video.DecodeAt(position);
        ASSERT_TRUE(picture);
        EXPECT_TRUE(near(picture->At(20, 20), screen));
        EXPECT_TRUE(near(picture->At(40, 66), screen));
        yellowSeen = yellowSeen || near(picture->At(84, 66), yellow);
        purpleSeen = purpleSeen || near(picture->At(84, 66), purple);
    }
    EXPECT_TRUE(yellowSeen);
    EXPECT_TRUE(purpleSeen);
}
