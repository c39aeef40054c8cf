#pragma once

#include "hooklib/ScopedWindow.h"
#include "hooklib/XConnection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <memory>
#include <string>

// A message box with a text, an empty title and one OK button, drawn with plain
// Xlib: the hook library links no toolkit. It blocks until dismissed (OK, Return,
// Escape, or the window manager's close); without a display the text goes to stderr.
class ErrorBox {
public:
    static void Show(const std::string& text);
    ~ErrorBox();
    ErrorBox(const ErrorBox&) = delete;
    ErrorBox& operator=(const ErrorBox&) = delete;

private:
    struct GcFreer {
        Display* display;
        void operator()(GC gc) const { XFreeGC(display, gc); }
    };

    ErrorBox(XConnection& connection, const std::string& text);
    void Layout();
    void CreateWindow();
    void Run();
    bool Handle(const XEvent& event);
    void Draw();
    bool OnButton(int x, int y) const;

    XConnection& m_connection;
    Display* m_display;
    std::string m_text;
    XFontStruct* m_font;
    int m_width = 0;
    int m_height = 0;
    XRectangle m_button{};
    Atom m_deleteWindow;
    ScopedWindow m_window;
    std::unique_ptr<std::remove_pointer_t<GC>, GcFreer> m_gc;
};
