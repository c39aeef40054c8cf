#pragma once

#include <X11/Xlib.h>

#include <memory>

// The grabber's own connection to the X server (DISPLAY). Protocol errors on
// it never end the program: each request reports failure by its result. When
// the server goes away the connection is marked lost instead of Xlib's default
// exit, and every later request on it fails at once.
class GrabberConnection {
public:
    GrabberConnection() = default;
    ~GrabberConnection();
    GrabberConnection(const GrabberConnection&) = delete;
    GrabberConnection& operator=(const GrabberConnection&) = delete;

    bool Open();
    void Close();

    Display* display() const { return m_display.get(); }
    bool lost() const { return m_lost; }

private:
    struct CloseDisplay {
        void operator()(Display* display) const;
    };
    static void OnConnectionLost(Display* display, void* self);

    std::unique_ptr<Display, CloseDisplay> m_display;
    bool m_lost = false;
};
