#include "hooklib/RawEventHook.h"

#include "hooklib/HookThread.h"
#include "hooklib/ThisThread.h"

#include <cerrno>
#include <poll.h>

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

RawEventHook::RawEventHook(Window target) : m_target(target) {}

RawEventHook::~RawEventHook() {
    End();
}

bool RawEventHook::Begin() {
    return m_worker.Start([this](std::promise<bool> started) { Run(std::move(started)); });
}

void RawEventHook::End() {
    m_worker.Stop();
}

// The connection is opened, used and closed on this thread only: once the server
// has gone, Xlib keeps the display locked for the thread that noticed, and any
// other thread touching it would wait for ever.
void RawEventHook::Run(std::promise<bool> started) {
    thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
    auto connection = XConnection::Open();
    int xiOpcode = 0;
    if (!connection || !HasXInput2(connection->display(), &xiOpcode)) {
        started.set_value(false);
        return;
    }
    Display* display = connection->display();
    const hookthread::Reporter reporter(display, m_target, m_worker.wakeFd());
    m_reporter = &reporter;
    Select(display);
    XSync(display, False);
    started.set_value(true);
    Watch(*connection, xiOpcode);
}

void RawEventHook::Watch(XConnection& connection, int xiOpcode) {
    Display* display = connection.display();
    while (!m_worker.stopping() && !connection.lost()) {
        while (!m_worker.stopping() && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            DispatchEvent(display, xiOpcode, event);
        }
        pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {m_worker.wakeFd(), POLLIN, 0}};
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            return;
    }
}

void RawEventHook::DispatchEvent(Display* display, int xiOpcode, XEvent& event) {
    if (event.type != GenericEvent || event.xcookie.extension != xiOpcode)
        return;
    EventData data(display, &event.xcookie);
    if (const XIRawEvent* raw = data.rawEvent())
        Dispatch(display, event.xcookie.evtype, *raw);
}

void RawEventHook::Report(clickchannel::WindowMessage message) {
    m_reporter->Report(message);
}
