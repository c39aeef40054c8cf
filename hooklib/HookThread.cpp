#include "hooklib/HookThread.h"

#include "hooklib/ClickChannel.h"

namespace hookthread {

namespace {

// How long one report waits for the window's answer before the next press goes out.
constexpr int kReplyTimeoutMs = 1000;

} // namespace

Window CreateReplyWindow(Display* display) {
    return XCreateSimpleWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, 0);
}

void Report(Display* display, Window target, Window replyWindow,
            const clickchannel::WindowMessage& message, int cancelFd) {
    // A stop need not wait for the answer: the program stops its host from the very
    // thread that answers, as when the press itself was on its tray icon.
    clickchannel::SendAndWait(display, target, replyWindow, message, kReplyTimeoutMs, nullptr,
                              cancelFd);
}

} // namespace hookthread
