// The hook host as the program runs it: a real Daltrop process on a private Xvfb,
// reading "HW" from a private store, pressed at with xdotool, reporting to a window
// of this process that answers like the dialog.

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/HookHostExit.h"
#include "settings/Utf16.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;
using clickchannel::kLeftButtonDown;
using clickchannel::kRightButtonDown;
using hooktest::HostProcess;
using hooktest::TempStore;

namespace {

constexpr auto kPromptly = 5s;

class HookHostTest : public hooktest::XvfbSuite {
protected:
    void SetUp() override {
        XvfbSuite::SetUp();
        receiver = std::make_unique<ClickReceiver>();
    }

    bool EndsAtOnceWith(HostProcess& host, int exitCode) {
        const auto status = host.WaitForExit(kPromptly);
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == exitCode;
    }

    TempStore store;
    std::unique_ptr<ClickReceiver> receiver;
};

TEST_F(HookHostTest, ReportsLeftAndRightPressesInOrderAndNothingElse) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    HostProcess host;
    ASSERT_TRUE(hooktest::WaitUntilHooked(*server, *receiver));

    // Middle, wheel (4 to 7), side buttons, moves and every release between them.
    hooktest::Xdotool(*server, "mousemove 40 40 click 1 click 2 click 3 mousemove 300 200 "
                               "click 4 click 5 click 6 click 7 click 8 click 9 "
                               "click --repeat 2 --delay 30 1 mousedown 3 mousemove 5 5 mouseup 3 "
                               "click 2 click 1");
    const auto received = receiver->WaitFor(6, kPromptly);
    std::this_thread::sleep_for(300ms);

    EXPECT_EQ(receiver->Messages(),
              (std::vector<uint32_t>{kLeftButtonDown, kRightButtonDown, kLeftButtonDown,
                                     kLeftButtonDown, kRightButtonDown, kLeftButtonDown}));
    for (const auto& r : received) {
        EXPECT_EQ(r.message.wParam, 0u);
        EXPECT_EQ(r.message.lParam, 0u);
    }
    EXPECT_TRUE(host.running());
}

TEST_F(HookHostTest, EndsAtOnceWithoutAValidWindowInTheStore) {
    const uint32_t live = static_cast<uint32_t>(receiver->window());
    ClickReceiver gone;
    const uint32_t destroyed = static_cast<uint32_t>(gone.window());
    gone.DestroyWindow();

    struct Case {
        const char* what;
        std::function<void()> publish;
    };
    const Case cases[] = {
        {"no key at all", [] {}},
        {"the dialog's seed, an empty string", [&] { store.PublishString(u""); }},
        {"the live window's id as a string",
         [&] { store.PublishString(FromUtf8(std::to_string(live))); }},
        {"a window that is gone", [&] { store.PublishWindow(destroyed); }},
        {"window 0", [&] { store.PublishWindow(0); }},
        {"a store that is no database",
         [] {
             std::ofstream(std::string(std::getenv("XDG_DATA_HOME")) + "/tesmara/registry.sqlite")
                 << std::string(4096, 'x');
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.publish();
        HostProcess host;
        EXPECT_TRUE(EndsAtOnceWith(host, hookhost::kExitNoWindow));
    }
    hooktest::Xdotool(*server, "click 1 click 3");
    EXPECT_TRUE(receiver->WaitFor(1, 300ms).empty());
}

TEST_F(HookHostTest, TwoHostsReportEachPressTwice) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    HostProcess first;
    HostProcess second;
    ASSERT_TRUE(hooktest::WaitUntilHooked(*server, *receiver, 2));

    hooktest::Xdotool(*server, "click 3 click 2 click 1");
    receiver->WaitFor(4, kPromptly);
    std::this_thread::sleep_for(300ms);

    auto messages = receiver->Messages();
    ASSERT_EQ(messages.size(), 4u);
    // Each host reports in press order; the two hosts' reports may interleave.
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kRightButtonDown), 2);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kLeftButtonDown), 2);
    EXPECT_EQ(messages[0], kRightButtonDown);
    EXPECT_EQ(messages[3], kLeftButtonDown);
}

TEST_F(HookHostTest, EndSignalsEndItCleanlyAndThePressesStop) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        HostProcess host;
        ASSERT_TRUE(hooktest::WaitUntilHooked(*server, *receiver));
        host.Signal(signal);
        const auto status = host.WaitForExit(kPromptly);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 0);

        hooktest::Xdotool(*server, "click 1");
        EXPECT_TRUE(receiver->WaitFor(1, 300ms).empty());
    }
}

TEST_F(HookHostTest, EndsWithoutWaitingForTheAnswerToAPendingReport) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    HostProcess host;
    ASSERT_TRUE(hooktest::WaitUntilHooked(*server, *receiver));

    // The program ends its host from the thread that answers; a press on its tray
    // icon is reported at that very moment and stays unanswered.
    receiver->SetAnswering(false);
    hooktest::Xdotool(*server, "click 1");
    ASSERT_EQ(receiver->WaitFor(1, kPromptly).size(), 1u);
    const auto signalled = std::chrono::steady_clock::now();
    host.Signal(SIGTERM);
    const auto status = host.WaitForExit(kPromptly);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    // Waiting out the answer would take the whole second a report may wait.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 900ms);
}

TEST_F(HookHostTest, KeepsRunningWhenTheWindowGoesAway) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    HostProcess host;
    ASSERT_TRUE(hooktest::WaitUntilHooked(*server, *receiver));

    receiver->DestroyWindow();
    hooktest::Xdotool(*server, "click 1 click 3 click 1");
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(host.running());

    host.Signal(SIGTERM);
    const auto status = host.WaitForExit(kPromptly);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

// A killed program cannot end its helper; the helper follows it instead, so it
// never reports to a window id the server may hand to another client.
TEST_F(HookHostTest, EndsWhenTheProgramIsKilled) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    // The orphaned helper comes to this process, which can then see it end.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    std::string program = hooktest::BinDir() + "/Daltrop";
    char* argv[] = {program.data(), nullptr};
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        environment.push_back(*variable);
    char parentVariable[64] = {};
    environment.push_back(parentVariable);
    environment.push_back(nullptr);
    int report[2];
    ASSERT_EQ(pipe(report), 0);

    const pid_t parent = fork();
    if (parent == 0) {
        snprintf(parentVariable, sizeof parentVariable, "%s=%d", hookhost::kParentVariable,
                 int(getpid()));
        pid_t helper = -1;
        posix_spawn(&helper, program.c_str(), nullptr, nullptr, argv, environment.data());
        (void)!write(report[1], &helper, sizeof helper);
        pause();
        _exit(0);
    }
    pid_t helper = -1;
    const bool reported = read(report[0], &helper, sizeof helper) == ssize_t(sizeof helper);
    close(report[0]);
    close(report[1]);
    const bool hooked = reported && helper > 0 && hooktest::WaitUntilHooked(*server, *receiver);
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    ASSERT_TRUE(reported && helper > 0) << "the helper did not start";
    EXPECT_TRUE(hooked);

    int status = -1;
    pid_t ended = 0;
    for (auto waited = 0ms; waited < kPromptly && ended == 0; waited += 50ms) {
        std::this_thread::sleep_for(50ms);
        ended = waitpid(helper, &status, WNOHANG);
    }
    if (ended == 0) {
        kill(helper, SIGKILL);
        waitpid(helper, nullptr, 0);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(ended, helper) << "the helper outlived its program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == hookhost::kExitDone) << status;

    // Orphaned before it could ask for the signal: it sees another parent and ends.
    setenv(hookhost::kParentVariable, "1", 1);
    HostProcess orphan;
    unsetenv(hookhost::kParentVariable);
    const auto orphanStatus = orphan.WaitForExit(kPromptly);
    ASSERT_TRUE(orphanStatus.has_value());
    EXPECT_TRUE(WIFEXITED(*orphanStatus) && WEXITSTATUS(*orphanStatus) == hookhost::kExitDone);
}

TEST_F(HookHostTest, WithoutADisplayEndsWithFailureAndShowsNothing) {
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    const std::string errors =
        (std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "stderr").string();
    const std::string display = server->display();
    unsetenv("DISPLAY");
    HostProcess host(errors);
    setenv("DISPLAY", display.c_str(), 1);

    EXPECT_TRUE(EndsAtOnceWith(host, hookhost::kExitNoDisplay));
    EXPECT_EQ(std::filesystem::file_size(errors), 0u);
}

TEST_F(HookHostTest, InstalledBesideTheProgramFindsItsLibrary) {
    namespace fs = std::filesystem;
    const fs::path build = fs::path(hooktest::BinDir()).parent_path();
    const fs::path prefix = fs::path(std::getenv("XDG_DATA_HOME")) / "prefix";
    ASSERT_EQ(std::system(("cmake --install " + build.string() + " --prefix " + prefix.string() +
                           " >/dev/null")
                              .c_str()),
              0);
    const fs::path folder = prefix / "lib/tesmara";
    for (const char* file : {"Kestrabole", "Daltrop", "libDaltropH.so"})
        EXPECT_TRUE(fs::exists(folder / file)) << file;

    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    HostProcess host({}, folder.string());
    EXPECT_TRUE(hooktest::WaitUntilHooked(*server, *receiver));
}

TEST(HookHostServerTest, EndsCleanlyWhenTheServerGoesAway) {
    testsupport::XvfbServer own;
    ASSERT_TRUE(own.running());
    own.makeCurrent();
    TempStore store;
    auto receiver = std::make_unique<ClickReceiver>();
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    HostProcess host;
    ASSERT_TRUE(hooktest::WaitUntilHooked(own, *receiver));

    own.stop();
    const auto status = host.WaitForExit(kPromptly);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

} // namespace
