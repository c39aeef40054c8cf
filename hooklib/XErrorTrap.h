#pragma once

#include <X11/Xlib.h>

// Catches the protocol errors of the requests made on one display while it exists,
// instead of Xlib's default, which ends the process. A window named by another
// process may vanish at any moment, so every request naming one is made under a trap.
// Errors of other displays, and of earlier requests, go to the handler in place before.
class XErrorTrap {
public:
    explicit XErrorTrap(Display* display);
    // Waits for the server's answer to every trapped request, so none of their errors
    // can reach the previous handler afterwards.
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Waits for the server's answers; true when any trapped request failed.
    bool Failed();

private:
    static int Catch(Display* display, XErrorEvent* error);

    Display* m_display;
    unsigned long m_firstRequest;
    bool m_failed = false;
};
