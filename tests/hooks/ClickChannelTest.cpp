// The window-message channel between two connections of this process.

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/ScopedWindow.h"
#include "hooklib/XConnection.h"

using namespace std::chrono_literals;
using clickchannel::WindowMessage;

namespace {

class ClickChannelTest : public hooktest::XvfbSuite {
protected:
    void SetUp() override {
        XvfbSuite::SetUp();
        sender = XConnection::Open();
        ASSERT_TRUE(sender);
        replyWindow = NewWindow();
    }

    ScopedWindow NewWindow() {
        Display* display = sender->display();
        return ScopedWindow(display, XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                                         1, 1, 0, 0, 0));
    }

    bool Send(Window target, uint32_t message, int timeoutMs = 1000) {
        return clickchannel::SendAndWait(sender->display(), target, replyWindow.get(),
                                         WindowMessage{message, 7, 8}, timeoutMs);
    }

    std::unique_ptr<XConnection> sender;
    ScopedWindow replyWindow;
};

TEST_F(ClickChannelTest, DeliversEachMessageAndWaitsForItsAnswer) {
    ClickReceiver receiver;
    for (uint32_t message : {clickchannel::kLeftButtonDown, clickchannel::kRightButtonDown,
                             clickchannel::kTrayHide})
        EXPECT_TRUE(Send(receiver.window(), message));

    // Each send returned only after the answer, so everything is there already.
    const auto received = receiver.WaitFor(0, 0ms);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2].message.message, clickchannel::kTrayHide);
    EXPECT_EQ(received[2].message.wParam, 7u);
    EXPECT_EQ(received[2].message.lParam, 8u);
    EXPECT_EQ(received[2].message.replyWindow, replyWindow.get());
    EXPECT_NE(received[0].message.serial, received[1].message.serial);
}

TEST_F(ClickChannelTest, GivesUpOnASilentWindowAndKeepsOtherEvents) {
    ScopedWindow silent = NewWindow();
    Display* display = sender->display();
    XEvent unrelated{};
    unrelated.xclient = {ClientMessage, 0, True, display, replyWindow.get(),
                         XInternAtom(display, "UNRELATED", False), 32, {}};
    XSendEvent(display, replyWindow.get(), False, NoEventMask, &unrelated);

    // A window nobody serves: sending works, the answer never comes.
    EXPECT_FALSE(Send(silent.get(), clickchannel::kLeftButtonDown, 200));
    XEvent kept;
    EXPECT_TRUE(XCheckTypedWindowEvent(display, replyWindow.get(), ClientMessage, &kept));
    EXPECT_EQ(kept.xclient.message_type, XInternAtom(display, "UNRELATED", False));
}

TEST_F(ClickChannelTest, DecodesOnlyItsOwnMessagesAndAnswersAGoneSenderHarmlessly) {
    Display* display = sender->display();
    const long data[5] = {1010, 0, 0, static_cast<long>(replyWindow.get()), 1};
    WindowMessage decoded;
    const Atom ours = XInternAtom(display, clickchannel::kMessageAtomName, False);
    EXPECT_FALSE(clickchannel::Decode(display, XInternAtom(display, "WM_PROTOCOLS", False), 32,
                                      data, &decoded));
    EXPECT_FALSE(clickchannel::Decode(display, ours, 8, data, &decoded));
    ASSERT_TRUE(clickchannel::Decode(display, ours, 32, data, &decoded));
    EXPECT_EQ(decoded.message, 1010u);

    // The sender's reply window vanishes before the answer: no error may reach
    // Xlib's default handler, which would end this process.
    replyWindow.reset();
    clickchannel::Reply(display, decoded, 0);
    XSync(display, False);
    EXPECT_FALSE(sender->lost());
}

} // namespace
