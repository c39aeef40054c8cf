#include "hooklib/RawButtonHook.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/HookThread.h"
#include "hooklib/ScopedWindow.h"
#include "hooklib/ThisThread.h"

#include <X11/extensions/XInput2.h>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>

namespace {

bool HasXInput2(Display* display, int* opcode) {
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", opcode, &event, &error))
        return false;
    // Raw events reach every client, grabs or not, from 2.1 on; declaring 2.2 keeps
    // the server's behaviour the one that was tested.
    int major = 2;
    int minor = 2;
    return XIQueryVersion(display, &major, &minor) == Success;
}

void SelectRawPresses(Display* display) {
    unsigned char mask[XIMaskLen(XI_RawButtonPress)] = {};
    XISetMask(mask, XI_RawButtonPress);
    // Master devices only: each press then comes once, not once more per slave device.
    XIEventMask selection{XIAllMasterDevices, sizeof mask, mask};
    XISelectEvents(display, DefaultRootWindow(display), &selection, 1);
}

// The extension data of a generic event, released when done with.
class EventData {
public:
    EventData(Display* display, XGenericEventCookie* cookie)
        : m_display(display), m_cookie(cookie), m_ok(XGetEventData(display, cookie)) {}
    ~EventData() {
        if (m_ok)
            XFreeEventData(m_display, m_cookie);
    }
    EventData(const EventData&) = delete;
    EventData& operator=(const EventData&) = delete;

    const XIRawEvent* rawEvent() const {
        return m_ok ? static_cast<const XIRawEvent*>(m_cookie->data) : nullptr;
    }

private:
    Display* m_display;
    XGenericEventCookie* m_cookie;
    bool m_ok;
};

} // namespace

std::unique_ptr<RawButtonHook> RawButtonHook::Start(Window target) {
    std::unique_ptr<RawButtonHook> hook(new RawButtonHook(target));
    return hook->m_started.get() ? std::move(hook) : nullptr;
}

RawButtonHook::RawButtonHook(Window target)
    : m_target(target), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    std::promise<bool> started;
    m_started = started.get_future();
    m_thread = hookthread::StartWithSignalsBlocked(&RawButtonHook::Run, this, std::move(started));
}

RawButtonHook::~RawButtonHook() {
    m_stopping = true;
    const uint64_t one = 1;
    // Only a full counter refuses the write, and then the thread is awake anyway.
    [[maybe_unused]] const ssize_t written = write(m_wake.get(), &one, sizeof one);
    m_thread.join();
}

// The connection is opened, used and closed on this thread only: once the server
// has gone, Xlib keeps the display locked for the thread that noticed, and any
// other thread touching it would wait for ever.
void RawButtonHook::Run(std::promise<bool> started) {
    thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
    auto connection = XConnection::Open();
    int xiOpcode = 0;
    if (!connection || !HasXInput2(connection->display(), &xiOpcode)) {
        started.set_value(false);
        return;
    }
    Display* display = connection->display();
    const ScopedWindow replyWindow(display, hookthread::CreateReplyWindow(display));
    SelectRawPresses(display);
    XSync(display, False);
    started.set_value(true);
    Watch(Session{*connection, replyWindow.get(), xiOpcode});
}

void RawButtonHook::Watch(const Session& session) {
    Display* display = session.connection.display();
    while (!m_stopping && !session.connection.lost()) {
        while (!m_stopping && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            Dispatch(session, event);
        }
        pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            return;
    }
}

void RawButtonHook::Dispatch(const Session& session, XEvent& event) {
    if (event.type != GenericEvent || event.xcookie.extension != session.xiOpcode ||
        event.xcookie.evtype != XI_RawButtonPress)
        return;
    EventData data(session.connection.display(), &event.xcookie);
    if (const XIRawEvent* press = data.rawEvent())
        Report(session, static_cast<unsigned>(press->detail));
}

void RawButtonHook::Report(const Session& session, unsigned button) {
    uint32_t message = 0;
    if (button == Button1)
        message = clickchannel::kLeftButtonDown;
    else if (button == Button3)
        message = clickchannel::kRightButtonDown;
    else
        return;
    hookthread::Report(session.connection.display(), m_target, session.replyWindow, message,
                       m_wake.get());
}
