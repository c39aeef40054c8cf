#include "hooklib/XConnection.h"

#include "hooklib/DisplayRegistry.h"

#include <mutex>

namespace {

// Never destroyed: connections may still close during the static destruction of a
// process that ends with a hook active.
DisplayRegistry<bool>& OurConnections() {
    static auto* registry = new DisplayRegistry<bool>;
    return *registry;
}

XIOErrorHandler previousIoHandler = nullptr;

// Xlib's default prints a fatal-error line; ours are expected to lose their server
// now and then (logout, test servers), so they go quietly to their exit handler.
int QuietForOurs(Display* display) {
    if (OurConnections().Find(display) || !previousIoHandler)
        return 0;
    return previousIoHandler(display);
}

void InstallIoHandlerOnce() {
    static std::once_flag once;
    std::call_once(once, [] { previousIoHandler = XSetIOErrorHandler(QuietForOurs); });
}

} // namespace

std::unique_ptr<XConnection> XConnection::Open() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<XConnection>(new XConnection(display));
}

XConnection::XConnection(Display* display) : m_display(display) {
    InstallIoHandlerOnce();
    OurConnections().Add(display, true);
    XSetIOErrorExitHandler(display, MarkLost, this);
}

XConnection::~XConnection() {
    Display* display = m_display.get();
    // Closing may still meet the server's end, so the display stays known as ours
    // until it is closed.
    m_display.reset();
    OurConnections().Remove(display);
}

void XConnection::MarkLost(Display*, void* self) {
    static_cast<XConnection*>(self)->m_lost = true;
}
