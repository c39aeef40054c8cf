// The keys of Wayland desktops: a keyboard's event records, written by the test into
// a FIFO in a folder of input devices, reported to a window on Xvfb with the keysyms
// of Xvfb's keyboard layout (US).

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/KeyDeviceHook.h"
#include "tests/advert/TempFolder.h"

#include <X11/keysym.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace std::chrono_literals;
using hooktest::Record;
using hooktest::Send;
using keynames::KeyShowing;

namespace {

constexpr auto kPromptly = 5s;
constexpr int kReleased = 0;
constexpr int kPressed = 1;
constexpr int kRepeated = 2;

// (message, keysym, modifiers)
using KeyMessage = std::tuple<uint32_t, uint32_t, uint32_t>;

KeyMessage KeyDown(uint32_t keysym, uint32_t modifiers) {
    return {clickchannel::kKeyDown, keysym, modifiers};
}

// A key going down, repeating or up, with what a keyboard sends around it: its scan
// code before, the end of the report after.
void Stroke(int keyboard, uint16_t key, int32_t value) {
    Send(keyboard, {Record(EV_MSC, MSC_SCAN, key), Record(EV_KEY, key, value),
                    Record(EV_SYN, SYN_REPORT, 0)});
}

void Tap(int keyboard, uint16_t key) {
    Stroke(keyboard, key, kPressed);
    Stroke(keyboard, key, kReleased);
}

class KeyDeviceHookTest : public hooktest::XvfbSuite {
protected:
    void SetUp() override {
        XvfbSuite::SetUp();
        receiver = std::make_unique<ClickReceiver>();
        ASSERT_EQ(mkfifo(keyboard.c_str(), 0600), 0);
    }

    std::unique_ptr<KeyDeviceHook> Start(KeyShowing showing) {
        return KeyDeviceHook::Start(receiver->window(), showing, devices.Path());
    }

    // The keyboard's writing end; invalid while no one reads the keyboard.
    UniqueFd OpenKeyboard() const {
        return UniqueFd(open(keyboard.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    }

    // Every message once count have come and late ones had time to follow.
    std::vector<KeyMessage> Reported(size_t count) {
        receiver->WaitFor(count, kPromptly);
        std::this_thread::sleep_for(300ms);
        std::vector<KeyMessage> reported;
        for (const ClickReceiver::Received& received : receiver->WaitFor(count, 0ms))
            reported.emplace_back(received.message.message, received.message.wParam,
                                  received.message.lParam);
        return reported;
    }

    TempFolder devices;
    const std::string keyboard = devices / "event0";
    std::unique_ptr<ClickReceiver> receiver;
};

// Ctrl+Shift+T held until it repeats shows once, and once more when pressed again;
// the plain letter typed after the modifiers were let go does not show; Esc does.
// With keys off, the keyboard is not even opened.
TEST_F(KeyDeviceHookTest, ShortcutsShowOncePerPressTypedTextNot) {
    const auto off = Start(KeyShowing::Off);
    EXPECT_FALSE(off);
    EXPECT_FALSE(OpenKeyboard().valid()) << "the keyboard was opened with keys off";

    const auto hook = Start(KeyShowing::Shortcuts);
    ASSERT_TRUE(hook);
    const UniqueFd writer = OpenKeyboard();
    ASSERT_TRUE(writer.valid()) << "the keyboard was not opened";
    Stroke(writer.get(), KEY_LEFTCTRL, kPressed);
    Stroke(writer.get(), KEY_LEFTSHIFT, kPressed);
    Stroke(writer.get(), KEY_T, kPressed);
    for (int repeat = 0; repeat < 3; ++repeat)
        Stroke(writer.get(), KEY_T, kRepeated);
    Stroke(writer.get(), KEY_T, kReleased);
    Tap(writer.get(), KEY_T);
    Stroke(writer.get(), KEY_LEFTSHIFT, kReleased);
    Stroke(writer.get(), KEY_LEFTCTRL, kReleased);
    Tap(writer.get(), KEY_A);
    Tap(writer.get(), KEY_ESC);

    const uint32_t ctrlShift = keynames::kControl | keynames::kShift;
    EXPECT_EQ(Reported(3),
              (std::vector<KeyMessage>{KeyDown(XK_T, ctrlShift), KeyDown(XK_T, ctrlShift),
                                       KeyDown(XK_Escape, 0)}));
}

// A keyboard unplugged while Ctrl is down lets go of it: Esc from another
// keyboard afterwards shows without Ctrl.
TEST_F(KeyDeviceHookTest, UnpluggedKeyboardLetsGoOfItsModifiers) {
    const auto hook = Start(KeyShowing::Shortcuts);
    ASSERT_TRUE(hook);
    {
        const UniqueFd unplugged = OpenKeyboard();
        ASSERT_TRUE(unplugged.valid());
        Stroke(unplugged.get(), KEY_LEFTCTRL, kPressed);
        Tap(unplugged.get(), KEY_T);
    }
    std::this_thread::sleep_for(300ms);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const UniqueFd other(ends[1]);
    hook->Watch(UniqueFd(ends[0]));
    Tap(other.get(), KEY_ESC);

    EXPECT_EQ(Reported(2), (std::vector<KeyMessage>{KeyDown(XK_t, keynames::kControl),
                                                    KeyDown(XK_Escape, 0)}));
}

// Asked for, typed text shows as typed, Shift applied.
TEST_F(KeyDeviceHookTest, TypedTextShowsWhenAskedFor) {
    const auto hook = Start(KeyShowing::Everything);
    ASSERT_TRUE(hook);
    const UniqueFd writer = OpenKeyboard();
    ASSERT_TRUE(writer.valid());
    Tap(writer.get(), KEY_A);
    Stroke(writer.get(), KEY_RIGHTSHIFT, kPressed);
    Tap(writer.get(), KEY_A);
    Stroke(writer.get(), KEY_RIGHTSHIFT, kReleased);

    EXPECT_EQ(Reported(2),
              (std::vector<KeyMessage>{KeyDown(XK_a, 0), KeyDown(XK_A, keynames::kShift)}));
}

} // namespace
