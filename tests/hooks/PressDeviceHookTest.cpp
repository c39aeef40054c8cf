// The hook of Wayland desktops: presses read from input devices, here from pipes and
// FIFOs that carry the kernel's own event records, reported to a window on Xvfb.

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/KeyNames.h"
#include "hooklib/PressDeviceHook.h"
#include "tests/advert/TempFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using clickchannel::kLeftButtonDown;
using clickchannel::kNoPressDevices;
using clickchannel::kRightButtonDown;
using hooktest::Record;
using hooktest::Send;

namespace {

constexpr auto kPromptly = 5s;

class PressDeviceHookTest : public hooktest::XvfbSuite {
protected:
    void SetUp() override {
        XvfbSuite::SetUp();
        receiver = std::make_unique<ClickReceiver>();
    }

    std::unique_ptr<PressDeviceHook> StartOnEmptyFolder() {
        auto hook = PressDeviceHook::Start(receiver->window(), devices.Path());
        receiver->WaitFor(1, kPromptly);
        EXPECT_EQ(receiver->Messages(), std::vector<uint32_t>{kNoPressDevices});
        receiver->Clear();
        return hook;
    }

    TempFolder devices;
    std::unique_ptr<ClickReceiver> receiver;
};

TEST_F(PressDeviceHookTest, ReportsLeftAndRightPressesInOrderAndNothingElse) {
    auto hook = StartOnEmptyFolder();
    ASSERT_TRUE(hook);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const UniqueFd writer(ends[1]);
    hook->Watch(UniqueFd(ends[0]));

    Send(writer.get(),
         {Record(EV_KEY, KEY_A, 1), Record(EV_SYN, SYN_REPORT, 0), Record(EV_KEY, KEY_A, 0),
          Record(EV_REL, REL_X, 5), Record(EV_REL, REL_WHEEL, -1), Record(EV_KEY, BTN_LEFT, 1),
          Record(EV_SYN, SYN_REPORT, 0), Record(EV_KEY, BTN_LEFT, 0), Record(EV_KEY, BTN_MIDDLE, 1),
          Record(EV_KEY, BTN_SIDE, 1), Record(EV_KEY, BTN_RIGHT, 1), Record(EV_KEY, BTN_RIGHT, 0),
          Record(EV_KEY, KEY_ENTER, 2), Record(EV_KEY, BTN_LEFT, 2)});
    // A record that arrives in two parts still counts once.
    const input_event left = Record(EV_KEY, BTN_LEFT, 1);
    const auto* bytes = reinterpret_cast<const char*>(&left);
    ASSERT_EQ(write(writer.get(), bytes, 5), 5);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(write(writer.get(), bytes + 5, sizeof left - 5),
              static_cast<ssize_t>(sizeof left - 5));

    receiver->WaitFor(3, kPromptly);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(receiver->Messages(),
              (std::vector<uint32_t>{kLeftButtonDown, kRightButtonDown, kLeftButtonDown}));
}

TEST_F(PressDeviceHookTest, TakesUpADeviceThatAppearsLater) {
    auto hook = StartOnEmptyFolder();
    ASSERT_TRUE(hook);
    // Made beside the folder and moved in whole, with its writer already open.
    TempFolder staging;
    const std::string fifo = staging / "event7";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const UniqueFd writer(open(fifo.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(writer.valid());
    std::filesystem::rename(fifo, devices / "event7");

    // The hook may not have opened it yet: a press is repeated until one is seen.
    const auto deadline = std::chrono::steady_clock::now() + kPromptly;
    while (receiver->Messages().empty() && std::chrono::steady_clock::now() < deadline) {
        Send(writer.get(), {Record(EV_KEY, BTN_RIGHT, 1), Record(EV_KEY, BTN_RIGHT, 0)});
        receiver->WaitFor(1, 100ms);
    }
    ASSERT_FALSE(receiver->Messages().empty());
    EXPECT_EQ(receiver->Messages().front(), kRightButtonDown);
}

// This machine has no readable input device, so a host on a Wayland session says so
// and reports none of the presses and keys that X sees, though keys are shown.
TEST_F(PressDeviceHookTest, HostOnWaylandWithoutDevicesSaysSoOnceAndGoesOn) {
    if (std::filesystem::exists("/dev/input"))
        GTEST_SKIP() << "this machine has input devices";
    hooktest::TempStore store;
    store.PublishWindow(static_cast<uint32_t>(receiver->window()));
    store.PublishKeys(uint32_t(keynames::KeyShowing::Shortcuts));
    setenv("TESMARA_SESSION", "wayland", 1);
    hooktest::HostProcess host;
    unsetenv("TESMARA_SESSION");

    receiver->WaitFor(1, kPromptly);
    hooktest::Xdotool(*server, "click 1 click 3 key ctrl+shift+t Escape");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(receiver->Messages(), std::vector<uint32_t>{kNoPressDevices});
    EXPECT_TRUE(host.running());
}

} // namespace
