#include "recorder/capture/GrabberConnection.h"

#include <algorithm>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

// Xlib's error handlers are process-wide, and the default ones exit. Errors on
// the grabber's connections are absorbed here; everyone else's still reach the
// handler that was installed before ours.
class ErrorTrap {
public:
    static ErrorTrap& Instance() {
        static ErrorTrap trap;
        return trap;
    }

    void Add(Display* display) {
        std::lock_guard lock(m_mutex);
        m_displays.push_back(display);
    }

    void Remove(Display* display) {
        std::lock_guard lock(m_mutex);
        std::erase(m_displays, display);
    }

private:
    ErrorTrap() {
        m_previousError = XSetErrorHandler(OnError);
        m_previousIOError = XSetIOErrorHandler(OnIOError);
    }

    bool Owns(Display* display) {
        std::lock_guard lock(m_mutex);
        return std::ranges::find(m_displays, display) != m_displays.end();
    }

    static int OnError(Display* display, XErrorEvent* event) {
        ErrorTrap& trap = Instance();
        if (trap.Owns(display) || !trap.m_previousError)
            return 0;
        return trap.m_previousError(display, event);
    }

    // Returning lets Xlib go on to the connection's exit handler.
    static int OnIOError(Display* display) {
        ErrorTrap& trap = Instance();
        if (trap.Owns(display) || !trap.m_previousIOError)
            return 0;
        return trap.m_previousIOError(display);
    }

    std::mutex m_mutex;
    std::vector<Display*> m_displays;
    XErrorHandler m_previousError = nullptr;
    XIOErrorHandler m_previousIOError = nullptr;
};

} // namespace

void GrabberConnection::CloseDisplay::operator()(Display* display) const {
    XCloseDisplay(display);
    // Closing may still report errors of queued requests, so the trap lets go last.
    ErrorTrap::Instance().Remove(display);
}

GrabberConnection::~GrabberConnection() {
    Close();
}

bool GrabberConnection::Open() {
    Close();
    // The handlers go in before the connection's first request.
    ErrorTrap& trap = ErrorTrap::Instance();
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    trap.Add(display);
    m_display.reset(display);
    XSetIOErrorExitHandler(display, OnConnectionLost, this);
    return true;
}

void GrabberConnection::Close() {
    // XCloseDisplay on a lost connection can wait for ever (see OnConnectionLost);
    // only the socket is closed, the little memory of the display record stays.
    if (m_lost && m_display) {
        Display* display = m_display.release();
        ErrorTrap::Instance().Remove(display);
        close(ConnectionNumber(display));
    }
    m_display.reset();
    m_lost = false;
}

void GrabberConnection::OnConnectionLost(Display*, void* self) {
    static_cast<GrabberConnection*>(self)->m_lost = true;
}
