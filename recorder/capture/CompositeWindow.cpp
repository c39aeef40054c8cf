#include "recorder/capture/CompositeWindow.h"

#include <X11/extensions/Xcomposite.h>

namespace {

// Naming a window's pixmap came with version 0.2.
bool HasNamedPixmaps(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 2;
    return XCompositeQueryExtension(display, &eventBase, &errorBase) &&
           XCompositeQueryVersion(display, &major, &minor) && (major > 0 || minor >= 2);
}

} // namespace

CompositeWindow::~CompositeWindow() {
    Close();
}

bool CompositeWindow::Open(Display* display, Window window) {
    Close();
    if (!HasNamedPixmaps(display) || !XGetWindowAttributes(display, window, &m_attributes) ||
        m_attributes.map_state != IsViewable)
        return false;
    m_display = display;
    m_window = window;
    m_state = State::Shown;
    // Selected first, so that no change after the naming goes unnoticed.
    XSelectInput(display, window, StructureNotifyMask);
    XCompositeRedirectWindow(display, window, CompositeRedirectAutomatic);
    NamePixmap();
    return true;
}

void CompositeWindow::Close() {
    FreePixmap();
    if (m_display && m_state != State::Gone) {
        XCompositeUnredirectWindow(m_display, m_window, CompositeRedirectAutomatic);
        XSelectInput(m_display, m_window, NoEventMask);
    }
    Forget();
}

void CompositeWindow::Forget() {
    m_display = nullptr;
    m_window = 0;
    m_pixmap = 0;
    m_state = State::Gone;
    m_newPixmap = false;
}

// A new size means a new pixmap; a move or a notice from the window manager
// that repeats the size leaves the pixmap as it is.
bool CompositeWindow::TakeNotice(const XEvent& event) {
    if (!m_display || event.xany.window != m_window)
        return false;
    switch (event.type) {
    case ConfigureNotify:
        if (event.xconfigure.width != m_attributes.width ||
            event.xconfigure.height != m_attributes.height) {
            m_attributes.width = event.xconfigure.width;
            m_attributes.height = event.xconfigure.height;
            if (m_state == State::Shown)
                NamePixmap();
        }
        return true;
    case UnmapNotify:
        m_state = State::Hidden;
        return true;
    case MapNotify:
        m_state = State::Shown;
        NamePixmap();
        return true;
    case DestroyNotify:
        // The redirection went with the window; the named pixmap is still ours to free.
        m_state = State::Gone;
        FreePixmap();
        return true;
    default:
        return false;
    }
}

bool CompositeWindow::TakeNewPixmap() {
    const bool named = m_newPixmap;
    m_newPixmap = false;
    return named;
}

void CompositeWindow::NamePixmap() {
    FreePixmap();
    m_pixmap = XCompositeNameWindowPixmap(m_display, m_window);
    m_newPixmap = true;
}

void CompositeWindow::FreePixmap() {
    if (m_display && m_pixmap != 0)
        XFreePixmap(m_display, m_pixmap);
    m_pixmap = 0;
}
