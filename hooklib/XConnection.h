#pragma once

#include <X11/Xlib.h>
#include <atomic>
#include <memory>

// A connection to the X server that survives the server going away. Xlib's default
// ends the whole process then, which would skip our clean-up (the hook host's
// clearMyHook); here the connection is only marked lost, every later Xlib call on it
// does nothing, and its owner winds down in its own time. Open, use and close it on
// one thread: once the server has gone, Xlib keeps the display locked for the thread
// that noticed, and a call from any other thread would wait for ever.
class XConnection {
public:
    // Null when no server can be reached (DISPLAY unset, server down).
    static std::unique_ptr<XConnection> Open();
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* display() const { return m_display.get(); }
    bool lost() const { return m_lost.load(); }

private:
    struct Closer {
        void operator()(Display* display) const { XCloseDisplay(display); }
    };

    explicit XConnection(Display* display);
    static void MarkLost(Display* display, void* self);

    std::unique_ptr<Display, Closer> m_display;
    std::atomic<bool> m_lost{false};
};
