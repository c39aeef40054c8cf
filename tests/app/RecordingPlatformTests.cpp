// The recording's platform pieces on their own: the helper process, the scratch
// folder, the F9 hot key on a real X server and the termination signals. The
// event loop is the test program's one application.
#include <gtest/gtest.h>

#include "app/TerminationSignals.h"
#include "recorder/FrameTiming.h"
#include "session/HookHostProcess.h"
#include "session/HotKey.h"
#include "session/ScratchFolder.h"
#include "tests/app/DialogTestSupport.h"
#include "tests/support/XvfbServer.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool processGone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

fs::path freshFolder(const std::string& name) {
    fs::path folder =
        fs::temp_directory_path() / ("tesmara-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void writeFile(const fs::path& path, const std::string& text = "x") {
    std::ofstream(path) << text;
}

// A stand-in for the helper program.
fs::path writeScript(const fs::path& folder, const std::string& body) {
    fs::path script = folder / "helper";
    writeFile(script, "#!/bin/sh\n" + body);
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

} // namespace

TEST(RecordingFrameTiming, PlacesFramesByCaptureTimeAcrossTheClockWrap) {
    for (uint32_t start : {1000u, 0xFFFFFF00u}) {
        EXPECT_EQ(FramePosition(start, start + 110, 18), 0u);
        EXPECT_EQ(FramePosition(start, start + 1000, 18), 17u);
        EXPECT_EQ(FramePosition(start, start + 50, 18), 0xFFFFFFFFu) << "before the first slot";
        EXPECT_EQ(FramePosition(start, start + 120, 10), 0u);
        EXPECT_EQ(FramePosition(start, start + 150, 10), 0u) << "two ticks in one period";
        EXPECT_EQ(FramePosition(start, start + 450, 10), 3u) << "a late tick skips slots";
    }
    uint32_t before = MillisecondClock();
    usleep(20000);
    uint32_t elapsed = MillisecondClock() - before;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(RecordingHookHost, StartsWithSignedWindowIdAndEndsWithoutZombie) {
    fs::path folder = freshFolder("hostargs");
    fs::path helper =
        writeScript(folder, "echo \"$1\" >> \"$(dirname \"$0\")/args\"\nexec sleep 100\n");

    HookHostProcess host;
    ASSERT_TRUE(host.Start(helper.string(), 0x00000400u));
    pid_t first = host.Pid();
    // A second start ends the first helper; the id is written as a signed number.
    usleep(100000);
    ASSERT_TRUE(host.Start(helper.string(), 0x80000001u));
    EXPECT_TRUE(processGone(first));
    pid_t second = host.Pid();
    usleep(100000);
    host.Terminate();
    EXPECT_TRUE(processGone(second)) << "a terminated helper must also be collected";
    EXPECT_EQ(host.Pid(), -1);
    host.Terminate();

    std::ifstream args(folder / "args");
    std::string text((std::istreambuf_iterator<char>(args)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "1024\n-2147483647\n");
    fs::remove_all(folder);
}

TEST(RecordingHookHost, ForcesAHelperThatIgnoresTermAndCollectsOneThatEndedByItself) {
    fs::path folder = freshFolder("host");
    fs::path stubborn = writeScript(folder, "trap '' TERM\nwhile :; do sleep 0.05; done\n");

    HookHostProcess host;
    ASSERT_TRUE(host.Start(stubborn.string(), 7));
    pid_t pid = host.Pid();
    usleep(100000);
    host.Terminate();
    EXPECT_TRUE(processGone(pid));

    ASSERT_TRUE(host.Start("/bin/true", 7));
    pid = host.Pid();
    usleep(100000);
    host.Terminate();
    EXPECT_TRUE(processGone(pid));

    EXPECT_FALSE(host.Start((folder / "missing").string(), 7));
    EXPECT_EQ(host.Pid(), -1);
    fs::remove_all(folder);
}

TEST(RecordingHookHost, TellsOnceWhyTheHelperIsNotWorking) {
    fs::path folder = freshFolder("hostfate");
    HookHostProcess host;
    EXPECT_FALSE(host.TakeFailure()) << "nothing started, nothing failed";
    const auto awaitFailure = [&host] {
        for (int wait = 0; wait < 100; ++wait) {
            if (auto failure = host.TakeFailure())
                return failure;
            usleep(50000);
        }
        return std::optional<HookHostProcess::Failure>();
    };

    EXPECT_FALSE(host.Start((folder / "missing").string(), 7));
    auto failure = host.TakeFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->spawnError, ENOENT);
    EXPECT_FALSE(host.TakeFailure()) << "told once";

    ASSERT_TRUE(host.Start(writeScript(folder, "exit 3\n").string(), 7));
    failure = awaitFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->spawnError, 0);
    EXPECT_EQ(failure->exitCode, 3);
    EXPECT_EQ(host.Pid(), -1) << "collected";

    ASSERT_TRUE(host.Start(writeScript(folder, "kill -KILL $$\n").string(), 7));
    failure = awaitFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->signal, SIGKILL);

    ASSERT_TRUE(host.Start(writeScript(folder, "exec sleep 100\n").string(), 7));
    usleep(100000);
    EXPECT_FALSE(host.TakeFailure()) << "a running helper is fine";
    host.Terminate();
    fs::remove_all(folder);
}

TEST(RecordingScratchFolder, CreatesPrivateFolderAndDeletesOnlyOwnRegularFiles) {
    fs::path base = freshFolder("scratch");
    fs::path scratch = base / "DaltropSC";
    ASSERT_TRUE(ScratchFolder::Prepare(scratch.string()));
    struct stat info {};
    ASSERT_EQ(stat(scratch.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    fs::path outside = base / "precious";
    writeFile(outside);
    writeFile(scratch / "old.tmp");
    fs::create_directory(scratch / "sub");
    writeFile(scratch / "sub" / "kept");
    fs::create_symlink(outside, scratch / "link");
    writeFile(scratch / "foreign");
    ASSERT_EQ(chown((scratch / "foreign").c_str(), 65534, 65534), 0);
    chmod(scratch.c_str(), 0777);

    ASSERT_TRUE(ScratchFolder::Prepare(scratch.string()));
    EXPECT_FALSE(fs::exists(scratch / "old.tmp"));
    EXPECT_TRUE(fs::exists(scratch / "sub" / "kept"));
    EXPECT_TRUE(fs::is_symlink(scratch / "link"));
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(scratch / "foreign")) << "another user's file stays";
    ASSERT_EQ(stat(scratch.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "a loosened folder is made private again";
    fs::remove_all(base);
}

TEST(RecordingScratchFolder, RefusesALinkOrAnotherUsersFolderInItsPlace) {
    fs::path base = freshFolder("scratchlink");
    fs::path target = base / "victim";
    fs::create_directory(target);
    writeFile(target / "document");
    fs::create_directory_symlink(target, base / "DaltropSC");
    EXPECT_FALSE(ScratchFolder::Prepare((base / "DaltropSC").string()));
    EXPECT_TRUE(fs::exists(target / "document"));

    fs::path foreign = base / "foreign";
    fs::create_directory(foreign);
    writeFile(foreign / "theirs");
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(ScratchFolder::Prepare(foreign.string()));
    EXPECT_TRUE(fs::exists(foreign / "theirs"));

    const char* saved = std::getenv("TMPDIR");
    std::string savedTemp = saved ? saved : "";
    setenv("TMPDIR", base.c_str(), 1);
    EXPECT_EQ(ScratchFolder::Path(), (base / "DaltropSC").string());
    if (saved)
        setenv("TMPDIR", savedTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    fs::remove_all(base);
}

class RecordingHotKey : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<testsupport::XvfbServer>(); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_server->running());
        s_server->makeCurrent();
        QObject::connect(&m_hotKey, &HotKey::activated,
                         [this](unsigned id, unsigned mods, unsigned key) {
                             ++m_presses;
                             m_last = {id, mods, key};
                         });
    }

    // Presses the keys as a user would and returns how many stops arrived.
    int pressesAfter(const std::string& keys) {
        m_presses = 0;
        EXPECT_EQ(testsupport::runOnDisplay(*s_server, "xdotool key --delay 30 " + keys), 0);
        ProcessEvents(250);
        return m_presses;
    }

    static std::unique_ptr<testsupport::XvfbServer> s_server;
    HotKey m_hotKey;
    int m_presses = 0;
    std::array<unsigned, 3> m_last{};
};
std::unique_ptr<testsupport::XvfbServer> RecordingHotKey::s_server;

TEST_F(RecordingHotKey, F9AloneStopsWithOrWithoutLocksButNotWithModifiers) {
    ASSERT_TRUE(m_hotKey.Register());
    EXPECT_FALSE(m_hotKey.WatchesRawKeys());
    EXPECT_EQ(pressesAfter("F9"), 1);
    EXPECT_EQ(m_last, (std::array<unsigned, 3>{100, 0, 0x78}));
    EXPECT_EQ(pressesAfter("shift+F9 alt+F9 ctrl+shift+F9"), 0);
    EXPECT_EQ(pressesAfter("ctrl+F9"), 1) << "the pause key";
    EXPECT_EQ(m_last, (std::array<unsigned, 3>{100, HotKey::kModifierControl, 0x78}));
    EXPECT_EQ(pressesAfter("F8 F10"), 0);
    EXPECT_EQ(pressesAfter("Num_Lock F9 Num_Lock"), 1);
    EXPECT_EQ(pressesAfter("Caps_Lock F9 Caps_Lock"), 1);
    m_hotKey.Unregister();
    EXPECT_EQ(pressesAfter("F9"), 0);
}

TEST_F(RecordingHotKey, KeyHeldByAnotherClientIsStillSeenWithoutCrashing) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XGrabKey(other, XKeysymToKeycode(other, XK_F9), 0, DefaultRootWindow(other), False,
             GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    ASSERT_TRUE(m_hotKey.Register());
    EXPECT_TRUE(m_hotKey.WatchesRawKeys());
    EXPECT_EQ(pressesAfter("F9"), 1);
    EXPECT_EQ(pressesAfter("shift+F9 alt+F9 ctrl+shift+F9"), 0);
    EXPECT_EQ(pressesAfter("ctrl+F9"), 1);
    EXPECT_EQ(m_last, (std::array<unsigned, 3>{100, HotKey::kModifierControl, 0x78}));
    EXPECT_EQ(pressesAfter("Num_Lock F9 Num_Lock"), 1);
    m_hotKey.Unregister();
    EXPECT_EQ(pressesAfter("F9"), 0);
    XCloseDisplay(other);
}

TEST(RecordingTerminationSignals, DeliversEachSignalThroughTheEventLoopThenRestores) {
    struct sigaction before {};
    sigaction(SIGHUP, nullptr, &before);
    std::vector<int> received;
    {
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::received,
                         [&received](int number) { received.push_back(number); });
        {
            // A second instance must not take the handlers away when it goes.
            TerminationSignals second;
            QObject::connect(&second, &TerminationSignals::received,
                             [](int) { ADD_FAILURE() << "the second instance must stay inert"; });
        }
        raise(SIGHUP);
        raise(SIGTERM);
        raise(SIGINT);
        EXPECT_TRUE(received.empty()) << "nothing may run inside the signal handler";
        ProcessEvents(100);
    }
    EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM, SIGINT}));
    struct sigaction after {};
    sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}
