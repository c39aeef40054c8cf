#include "tests/hooks/ClickReceiver.h"

#include "hooklib/ScopedWindow.h"
#include "hooklib/XConnection.h"

#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>

ClickReceiver::ClickReceiver() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    std::promise<Window> created;
    auto window = created.get_future();
    m_thread = std::thread(&ClickReceiver::Run, this, std::move(created));
    m_window = window.get();
    if (!m_window) {
        m_thread.join();
        throw std::runtime_error("no X display for the receiver");
    }
}

ClickReceiver::~ClickReceiver() {
    Ask(Request::Stop);
    m_thread.join();
}

void ClickReceiver::DestroyWindow() {
    Ask(Request::DestroyWindow);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_request == Request::Idle; });
}

void ClickReceiver::SetAnswering(bool answering) {
    std::lock_guard lock(m_mutex);
    m_answering = answering;
}

void ClickReceiver::Ask(Request request) {
    {
        std::lock_guard lock(m_mutex);
        m_request = request;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wake.get(), &one, sizeof one);
}

std::vector<ClickReceiver::Received> ClickReceiver::WaitFor(size_t count,
                                                            std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
    return m_received;
}

std::vector<uint32_t> ClickReceiver::Messages() {
    std::lock_guard lock(m_mutex);
    std::vector<uint32_t> messages;
    for (const Received& r : m_received)
        messages.push_back(r.message.message);
    return messages;
}

void ClickReceiver::Clear() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

void ClickReceiver::Run(std::promise<Window> created) {
    auto connection = XConnection::Open();
    if (!connection) {
        created.set_value(0);
        return;
    }
    Display* display = connection->display();
    ScopedWindow window(display, XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                                     10, 10, 0, 0, 0));
    XSync(display, False);
    created.set_value(window.get());

    for (;;) {
        Serve(*connection);
        std::lock_guard lock(m_mutex);
        if (m_request == Request::Stop || connection->lost())
            return;
        if (m_request == Request::DestroyWindow) {
            window.reset();
            XSync(display, False);
            m_request = Request::Idle;
            m_changed.notify_all();
        }
    }
}

// Handles what has come, then waits for more or for a request.
void ClickReceiver::Serve(XConnection& connection) {
    Display* display = connection.display();
    while (!connection.lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        Handle(connection, event);
    }
    pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
    poll(waits, 2, -1);
    uint64_t requests = 0;
    [[maybe_unused]] const ssize_t drained = read(m_wake.get(), &requests, sizeof requests);
}

void ClickReceiver::Handle(XConnection& connection, const XEvent& event) {
    if (event.type != ClientMessage)
        return;
    clickchannel::WindowMessage message;
    const XClientMessageEvent& client = event.xclient;
    if (!clickchannel::Decode(connection.display(), client.message_type, client.format,
                              client.data.l, &message))
        return;
    bool answering = false;
    {
        std::lock_guard lock(m_mutex);
        m_received.push_back({message, Clock::now()});
        answering = m_answering;
    }
    if (answering)
        clickchannel::Reply(connection.display(), message, 0);
    m_changed.notify_all();
}
