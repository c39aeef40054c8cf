// The hook library in this process: its exports, its state rules and its error box.

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/DaltropH.h"
#include "hooklib/ErrorBox.h"
#include "tests/support/ExternalCommand.h"

#include <cstdlib>
#include <future>
#include <memory>
#include <set>
#include <sstream>

using namespace std::chrono_literals;
using clickchannel::kLeftButtonDown;
using clickchannel::kRightButtonDown;

namespace {

TEST(HookLibraryExportsTest, ExportsOnlySetMyHookAndClearMyHook) {
    const std::string library = std::string(std::getenv("TESMARA_BIN_DIR")) + "/libDaltropH.so";
    std::istringstream lines(testsupport::commandOutput("nm -D --defined-only " + library));
    std::set<std::string> names;
    for (std::string line; std::getline(lines, line);)
        names.insert(line.substr(line.find_last_of(' ') + 1));
    EXPECT_EQ(names, (std::set<std::string>{"clearMyHook", "setMyHook"}));
}

class HookLibraryTest : public hooktest::XvfbSuite {
protected:
    void SetUp() override {
        XvfbSuite::SetUp();
        receiver = std::make_unique<ClickReceiver>();
        other = std::make_unique<ClickReceiver>();
    }

    uint32_t Window() const { return static_cast<uint32_t>(receiver->window()); }
    uint32_t OtherWindow() const { return static_cast<uint32_t>(other->window()); }

    // Whether one left press now reaches the receiver.
    bool PressReported() {
        receiver->Clear();
        hooktest::Xdotool(*server, "click 1");
        return !receiver->WaitFor(1, 1s).empty();
    }

    std::unique_ptr<ClickReceiver> receiver;
    std::unique_ptr<ClickReceiver> other;
};

TEST_F(HookLibraryTest, FollowsTheStateRules) {
    EXPECT_EQ(clearMyHook(0), 0);
    EXPECT_EQ(clearMyHook(Window()), 0);
    EXPECT_EQ(setMyHook(0), 0);

    ASSERT_EQ(setMyHook(Window()), 1);
    EXPECT_EQ(setMyHook(Window()), 0);
    EXPECT_EQ(setMyHook(OtherWindow()), 0);
    EXPECT_EQ(clearMyHook(0), 0);
    EXPECT_EQ(clearMyHook(OtherWindow()), 0);
    // Only the first hook exists, and it is still in place after the refused calls.
    receiver->Clear();
    hooktest::Xdotool(*server, "click 3");
    receiver->WaitFor(2, 500ms);
    EXPECT_EQ(receiver->Messages(), std::vector<uint32_t>{kRightButtonDown});
    EXPECT_TRUE(other->Messages().empty());

    EXPECT_NE(clearMyHook(Window()), 0);
    EXPECT_FALSE(PressReported());
    EXPECT_EQ(clearMyHook(Window()), 0);

    ASSERT_EQ(setMyHook(Window()), 1);
    EXPECT_TRUE(PressReported());
    EXPECT_NE(clearMyHook(Window()), 0);
}

TEST_F(HookLibraryTest, WithoutADisplayWritesTheErrorAndInstallsNothing) {
    unsetenv("DISPLAY");
    testing::internal::CaptureStderr();
    const int result = setMyHook(Window());
    const std::string errors = testing::internal::GetCapturedStderr();
    server->makeCurrent();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(errors, "Error: _hook\n");
    EXPECT_EQ(clearMyHook(Window()), 0);
    ASSERT_EQ(setMyHook(Window()), 1);
    EXPECT_NE(clearMyHook(Window()), 0);
}

TEST_F(HookLibraryTest, ErrorBoxHasNoTitleAndWaitsForOk) {
    const std::string onDisplay = "DISPLAY=" + server->display() + " ";
    auto shown = std::async(std::launch::async, [] { ErrorBox::Show("Error: _hook"); });
    const std::string found =
        testsupport::commandOutput(onDisplay + "timeout 5 xdotool search --sync --class DaltropH");
    const std::string box = found.substr(0, found.find('\n'));
    ASSERT_FALSE(box.empty());
    // xprop shows an empty title as nothing after the "=", and a missing one otherwise.
    EXPECT_EQ(testsupport::commandOutput(onDisplay + "xprop -id " + box + " WM_NAME"),
              "WM_NAME(STRING) = \n");

    // Without a window manager xdotool complains about the focus; the box goes on the
    // key press, so the release finds no window.
    hooktest::Xdotool(*server, "key --window " + box + " a 2>/dev/null");
    EXPECT_EQ(shown.wait_for(300ms), std::future_status::timeout);
    hooktest::Xdotool(*server, "key --window " + box + " Return 2>/dev/null");
    EXPECT_EQ(shown.wait_for(5s), std::future_status::ready);
    // A box that ignored its OK would block this test for good: cut its connection.
    if (shown.wait_for(0s) != std::future_status::ready)
        hooktest::Xdotool(*server, "windowkill " + box);
}

} // namespace
