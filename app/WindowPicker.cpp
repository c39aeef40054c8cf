#include "app/WindowPicker.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <chrono>
#include <memory>
#include <thread>

// X11's headers come after Qt's, whose names their macros would take.
#include "recorder/capture/GrabberConnection.h"

#include <X11/cursorfont.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;

// The button that started the pick may still be held by a menu or the dialog.
constexpr int kGrabAttempts = 20;
constexpr auto kGrabRetry = 50ms;

struct FreeXMemory {
    void operator()(Window* windows) const { XFree(windows); }
};

class CrossCursor {
public:
    explicit CrossCursor(Display* display)
        : m_display(display), m_cursor(XCreateFontCursor(display, XC_crosshair)) {}
    ~CrossCursor() { XFreeCursor(m_display, m_cursor); }
    CrossCursor(const CrossCursor&) = delete;
    CrossCursor& operator=(const CrossCursor&) = delete;
    Cursor id() const { return m_cursor; }

private:
    Display* m_display;
    Cursor m_cursor;
};

// The pointer's and the keyboard's events, all ours while it lasts.
class InputGrab {
public:
    InputGrab(Display* display, Window root, Cursor cursor) : m_display(display) {
        for (int attempt = 0; attempt < kGrabAttempts && !m_pointer; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(kGrabRetry);
            m_pointer = XGrabPointer(display, root, False, ButtonPressMask | ButtonReleaseMask,
                                     GrabModeAsync, GrabModeAsync, None, cursor,
                                     CurrentTime) == GrabSuccess;
        }
        // Without the keyboard, Esc is lost but a click still picks.
        m_keyboard = m_pointer && XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync,
                                                CurrentTime) == GrabSuccess;
    }
    ~InputGrab() {
        if (m_keyboard)
            XUngrabKeyboard(m_display, CurrentTime);
        if (m_pointer)
            XUngrabPointer(m_display, CurrentTime);
        XFlush(m_display);
    }
    InputGrab(const InputGrab&) = delete;
    InputGrab& operator=(const InputGrab&) = delete;
    bool held() const { return m_pointer; }

private:
    Display* m_display;
    bool m_pointer = false;
    bool m_keyboard = false;
};

bool HasProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type, &format,
                       &items, &after, &data);
    if (data)
        XFree(data);
    return type != None;
}

// The first window at or below this one that has the property; 0 for none.
Window FindWithProperty(Display* display, Window window, Atom property) {
    if (HasProperty(display, window, property))
        return window;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return 0;
    const std::unique_ptr<Window, FreeXMemory> owned(children);
    for (unsigned index = 0; index < count; ++index) {
        if (const Window found = FindWithProperty(display, children[index], property))
            return found;
    }
    return 0;
}

// Window managers set WM_STATE on the windows they manage, inside the frames
// they put around them; a window no manager framed is its own client.
Window ClientWindow(Display* display, Window topLevel) {
    const Atom wmState = XInternAtom(display, "WM_STATE", True);
    const Window client = wmState != None ? FindWithProperty(display, topLevel, wmState) : 0;
    return client != 0 ? client : topLevel;
}

} // namespace

// A press on the bare root window picks nothing; the pick waits for a window.
std::optional<uint32_t> PickWindow() {
    GrabberConnection connection;
    if (!connection.Open())
        return std::nullopt;
    Display* display = connection.display();
    const Window root = DefaultRootWindow(display);
    const CrossCursor cursor(display);
    const InputGrab grab(display, root, cursor.id());
    if (!grab.held())
        return std::nullopt;
    QSocketNotifier serverSpoke(ConnectionNumber(display), QSocketNotifier::Read);
    QEventLoop loop;
    Window pressed = 0;
    while (!connection.lost()) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Escape)
                return std::nullopt;
            if (event.type == ButtonPress)
                pressed = event.xbutton.subwindow;
            if (event.type == ButtonRelease && pressed != 0)
                return static_cast<uint32_t>(ClientWindow(display, pressed));
        }
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::nullopt;
}
