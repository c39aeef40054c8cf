#include "hooklib/ClickChannel.h"

#include "hooklib/XErrorTrap.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <poll.h>

namespace clickchannel {

namespace {

enum Slot { kMessage, kWParam, kLParam, kReplyWindow, kSerial };
enum ReplySlot { kRepliedMessage, kResult };

struct PendingReply {
    Window window;
    Atom type;
    uint32_t serial;
};

uint32_t NextSerial() {
    static std::atomic<uint32_t> serial{0};
    return ++serial;
}

XEvent ClientMessageTo(Window window, Atom type) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    return event;
}

bool SendTo(Display* display, Window window, XEvent& event) {
    XErrorTrap trap(display);
    // An empty event mask delivers the event to the client that created the window.
    return XSendEvent(display, window, False, NoEventMask, &event) != 0 && !trap.Failed();
}

Bool IsAwaitedReply(Display*, XEvent* event, XPointer arg) {
    const auto* awaited = reinterpret_cast<const PendingReply*>(arg);
    const XClientMessageEvent& reply = event->xclient;
    return event->type == ClientMessage && reply.window == awaited->window &&
           reply.message_type == awaited->type && reply.format == 32 &&
           static_cast<uint32_t>(reply.data.l[kSerial]) == awaited->serial;
}

bool WaitForReply(Display* display, PendingReply awaited, int timeoutMs, long* result,
                  int cancelFd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        XEvent reply;
        if (XCheckIfEvent(display, &reply, IsAwaitedReply, reinterpret_cast<XPointer>(&awaited))) {
            if (result)
                *result = reply.xclient.data.l[kResult];
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        // A negative descriptor is skipped by poll.
        pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {cancelFd, POLLIN, 0}};
        if (poll(waits, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return false;
        if ((waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) || waits[1].revents)
            return false;
    }
}

} // namespace

bool SendAndWait(Display* display, Window target, Window replyWindow, const WindowMessage& message,
                 int timeoutMs, long* result, int cancelFd) {
    const uint32_t serial = NextSerial();
    XEvent event = ClientMessageTo(target, XInternAtom(display, kMessageAtomName, False));
    event.xclient.data.l[kMessage] = message.message;
    event.xclient.data.l[kWParam] = message.wParam;
    event.xclient.data.l[kLParam] = message.lParam;
    event.xclient.data.l[kReplyWindow] = static_cast<long>(replyWindow);
    event.xclient.data.l[kSerial] = serial;
    if (!SendTo(display, target, event))
        return false;
    if (replyWindow == 0)
        return true;
    const PendingReply awaited{replyWindow, XInternAtom(display, kReplyAtomName, False), serial};
    return WaitForReply(display, awaited, timeoutMs, result, cancelFd);
}

bool Decode(Display* display, Atom type, int format, const long data[5], WindowMessage* out) {
    if (format != 32 || type != XInternAtom(display, kMessageAtomName, False))
        return false;
    out->message = static_cast<uint32_t>(data[kMessage]);
    out->wParam = static_cast<uint32_t>(data[kWParam]);
    out->lParam = static_cast<uint32_t>(data[kLParam]);
    out->replyWindow = static_cast<Window>(static_cast<uint32_t>(data[kReplyWindow]));
    out->serial = static_cast<uint32_t>(data[kSerial]);
    return true;
}

void Reply(Display* display, const WindowMessage& message, long result) {
    if (message.replyWindow == 0)
        return;
    XEvent event =
        ClientMessageTo(message.replyWindow, XInternAtom(display, kReplyAtomName, False));
    event.xclient.data.l[kRepliedMessage] = message.message;
    event.xclient.data.l[kResult] = result;
    event.xclient.data.l[kSerial] = message.serial;
    // The sender may have ended meanwhile; its window is then gone and the answer lost.
    SendTo(display, message.replyWindow, event);
}

} // namespace clickchannel
