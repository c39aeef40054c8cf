#pragma once

#include <X11/Xlib.h>
#include <utility>

// A window of ours, destroyed with its owner (before the owner's connection closes).
class ScopedWindow {
public:
    ScopedWindow() = default;
    ScopedWindow(Display* display, Window window) : m_display(display), m_window(window) {}
    ~ScopedWindow() { reset(); }
    ScopedWindow(ScopedWindow&& other) noexcept
        : m_display(other.m_display), m_window(std::exchange(other.m_window, 0)) {}
    ScopedWindow& operator=(ScopedWindow&& other) noexcept {
        if (this != &other) {
            reset();
            m_display = other.m_display;
            m_window = std::exchange(other.m_window, 0);
        }
        return *this;
    }

    Window get() const { return m_window; }
    void reset() {
        if (m_window)
            XDestroyWindow(m_display, m_window);
        m_window = 0;
    }

private:
    Display* m_display = nullptr;
    Window m_window = 0;
};
