#include "hooklib/ErrorBox.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cstdio>
#include <poll.h>

namespace {

constexpr int kMargin = 24;
constexpr int kMinWidth = 220;
constexpr int kButtonWidth = 80;
constexpr const char* kButtonText = "OK";

int TextWidth(XFontStruct* font, const std::string& text) {
    return XTextWidth(font, text.c_str(), static_cast<int>(text.size()));
}

void SetAtomProperty(Display* display, Window window, const char* property, const char* value) {
    Atom atom = XInternAtom(display, value, False);
    XChangeProperty(display, window, XInternAtom(display, property, False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&atom), 1);
}

// The title stays empty in both the old and the EWMH property, so that window
// managers do not fall back to the class name.
void SetEmptyTitle(Display* display, Window window) {
    XStoreName(display, window, "");
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace, nullptr, 0);
}

void SetFixedSize(Display* display, Window window, int width, int height) {
    XSizeHints hints{};
    hints.flags = PMinSize | PMaxSize;
    hints.min_width = hints.max_width = width;
    hints.min_height = hints.max_height = height;
    XSetWMNormalHints(display, window, &hints);
}

void SetClass(Display* display, Window window) {
    char name[] = "DaltropH";
    XClassHint hint{name, name};
    XSetClassHint(display, window, &hint);
}

} // namespace

void ErrorBox::Show(const std::string& text) {
    auto connection = XConnection::Open();
    if (!connection) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    ErrorBox box(*connection, text);
    box.Run();
}

ErrorBox::ErrorBox(XConnection& connection, const std::string& text)
    : m_connection(connection), m_display(connection.display()), m_text(text),
      m_font(
          XQueryFont(m_display, XGContextFromGC(DefaultGC(m_display, DefaultScreen(m_display))))),
      m_deleteWindow(XInternAtom(m_display, "WM_DELETE_WINDOW", False)) {
    Layout();
    CreateWindow();
}

ErrorBox::~ErrorBox() {
    m_gc.reset();
    m_window.reset();
    if (m_font)
        XFreeFontInfo(nullptr, m_font, 1);
}

void ErrorBox::Layout() {
    const int lineHeight = m_font ? m_font->ascent + m_font->descent : 13;
    const int textWidth = m_font ? TextWidth(m_font, m_text) : 0;
    m_width = std::max(kMinWidth, textWidth + 2 * kMargin);
    const int buttonHeight = lineHeight + 12;
    m_height = kMargin + lineHeight + kMargin + buttonHeight + kMargin / 2;
    m_button = XRectangle{static_cast<short>((m_width - kButtonWidth) / 2),
                          static_cast<short>(m_height - kMargin / 2 - buttonHeight),
                          static_cast<unsigned short>(kButtonWidth),
                          static_cast<unsigned short>(buttonHeight)};
}

void ErrorBox::CreateWindow() {
    const int screen = DefaultScreen(m_display);
    const int x = (DisplayWidth(m_display, screen) - m_width) / 2;
    const int y = (DisplayHeight(m_display, screen) - m_height) / 2;
    Window window =
        XCreateSimpleWindow(m_display, RootWindow(m_display, screen), x, y,
                            static_cast<unsigned>(m_width), static_cast<unsigned>(m_height), 1,
                            BlackPixel(m_display, screen), WhitePixel(m_display, screen));
    m_window = ScopedWindow(m_display, window);
    SetEmptyTitle(m_display, window);
    SetClass(m_display, window);
    SetFixedSize(m_display, window, m_width, m_height);
    SetAtomProperty(m_display, window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG");
    XSetWMProtocols(m_display, window, &m_deleteWindow, 1);
    XSelectInput(m_display, window, ExposureMask | KeyPressMask | ButtonReleaseMask);

    XGCValues values{};
    values.foreground = BlackPixel(m_display, screen);
    m_gc = decltype(m_gc)(XCreateGC(m_display, window, GCForeground, &values), GcFreer{m_display});
    XMapRaised(m_display, window);
    XFlush(m_display);
}

void ErrorBox::Run() {
    bool dismissed = false;
    while (!dismissed && !m_connection.lost()) {
        while (!dismissed && XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            dismissed = Handle(event);
        }
        if (dismissed || m_connection.lost())
            break;
        pollfd connection{ConnectionNumber(m_display), POLLIN, 0};
        poll(&connection, 1, -1);
    }
}

// True when the event dismisses the box.
bool ErrorBox::Handle(const XEvent& event) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0)
            Draw();
        return false;
    case KeyPress: {
        XKeyEvent key = event.xkey;
        const KeySym symbol = XLookupKeysym(&key, 0);
        return symbol == XK_Return || symbol == XK_KP_Enter || symbol == XK_Escape ||
               symbol == XK_space;
    }
    case ButtonRelease:
        return event.xbutton.button == Button1 && OnButton(event.xbutton.x, event.xbutton.y);
    case ClientMessage:
        return static_cast<Atom>(event.xclient.data.l[0]) == m_deleteWindow;
    default:
        return false;
    }
}

void ErrorBox::Draw() {
    const Window window = m_window.get();
    const int ascent = m_font ? m_font->ascent : 10;
    XClearWindow(m_display, window);
    XDrawString(m_display, window, m_gc.get(), kMargin, kMargin + ascent, m_text.c_str(),
                static_cast<int>(m_text.size()));
    XDrawRectangle(m_display, window, m_gc.get(), m_button.x, m_button.y, m_button.width,
                   m_button.height);
    const std::string label = kButtonText;
    const int labelWidth = m_font ? TextWidth(m_font, label) : 12;
    XDrawString(m_display, window, m_gc.get(), m_button.x + (m_button.width - labelWidth) / 2,
                m_button.y + (m_button.height + ascent) / 2 - 1, label.c_str(),
                static_cast<int>(label.size()));
    XFlush(m_display);
}

bool ErrorBox::OnButton(int x, int y) const {
    return x >= m_button.x && x < m_button.x + m_button.width && y >= m_button.y &&
           y < m_button.y + m_button.height;
}
