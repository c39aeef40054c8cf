#pragma once

#include <X11/Xlib.h>

// One window whose content the Composite extension keeps in a pixmap of its
// own, whole even where other windows cover it. The redirection is automatic:
// the server still shows the window on the screen as before. The pixmap is
// named again whenever the window gets a new one (resized, or shown again).
class CompositeWindow {
public:
    enum class State {
        Shown,  // mapped: the pixmap holds its content
        Hidden, // unmapped or minimised, until it is shown again
        Gone    // destroyed
    };

    CompositeWindow() = default;
    ~CompositeWindow();
    CompositeWindow(const CompositeWindow&) = delete;
    CompositeWindow& operator=(const CompositeWindow&) = delete;

    // False when the server lacks Composite 0.2 or the window is not shown; the
    // pixmap is then none.
    bool Open(Display* display, Window window);
    void Close();
    // Lets go without a word to the server, whose connection is lost.
    void Forget();

    // True when the event is a notice about the window: moved, resized, hidden,
    // shown or destroyed.
    bool TakeNotice(const XEvent& event);
    // Whether the pixmap was named again since the last call.
    bool TakeNewPixmap();

    State state() const { return m_state; }
    Window window() const { return m_window; }
    Pixmap pixmap() const { return m_pixmap; }
    // As of the last notice; the window's visual and depth are the pixmap's.
    const XWindowAttributes& attributes() const { return m_attributes; }

private:
    void NamePixmap();
    void FreePixmap();

    Display* m_display = nullptr;
    Window m_window = 0;
    Pixmap m_pixmap = 0;
    XWindowAttributes m_attributes{};
    State m_state = State::Gone;
    bool m_newPixmap = false;
};
