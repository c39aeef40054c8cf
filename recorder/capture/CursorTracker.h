#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

// Where the pointer is on root; false when it is on another X screen.
bool QueryPointer(Display* display, Window root, int& x, int& y);
// Where the pointer is on the root window and relative to the window's origin;
// false when it is on another X screen or the window is gone.
bool QueryPointerOver(Display* display, Window window, int& rootX, int& rootY, int& windowX,
                      int& windowY);

// The current cursor's picture from XFixes, fetched again only when the server
// reports that the cursor changed, so drawing it costs no request per frame.
class CursorTracker {
public:
    // False when the server has no XFixes; the frames then carry no cursor.
    bool Open(Display* display, Window root);
    void Close();

    // True when the event is the server's notice that the cursor changed; the
    // picture is fetched again at the next Update.
    bool TakeNotice(const XEvent& event);
    // Fetches the picture when a notice came since the last call.
    void Update();

    bool empty() const { return m_width == 0 || m_height == 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int hotSpotX() const { return m_hotSpotX; }
    int hotSpotY() const { return m_hotSpotY; }
    // Row by row, premultiplied alpha 0xAARRGGBB.
    const uint32_t* pixels() const { return m_pixels.data(); }

private:
    void Load();

    Display* m_display = nullptr;
    int m_notifyEvent = 0;
    bool m_stale = false;
    int m_width = 0;
    int m_height = 0;
    int m_hotSpotX = 0;
    int m_hotSpotY = 0;
    std::vector<uint32_t> m_pixels; // grows with the largest cursor seen, never per frame
};
