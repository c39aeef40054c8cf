#include "recorder/capture/CursorTracker.h"

#include <X11/extensions/Xfixes.h>

#include <memory>

namespace {

struct FreeCursorImage {
    void operator()(XFixesCursorImage* image) const { XFree(image); }
};

} // namespace

bool QueryPointer(Display* display, Window root, int& x, int& y) {
    int windowX = 0;
    int windowY = 0;
    return QueryPointerOver(display, root, x, y, windowX, windowY);
}

bool QueryPointerOver(Display* display, Window window, int& rootX, int& rootY, int& windowX,
                      int& windowY) {
    Window rootReturn = 0;
    Window child = 0;
    unsigned buttons = 0;
    return XQueryPointer(display, window, &rootReturn, &child, &rootX, &rootY, &windowX, &windowY,
                         &buttons);
}

bool CursorTracker::Open(Display* display, Window root) {
    Close();
    int eventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase))
        return false;
    m_display = display;
    m_notifyEvent = eventBase + XFixesCursorNotify;
    XFixesSelectCursorInput(display, root, XFixesDisplayCursorNotifyMask);
    Load();
    return true;
}

void CursorTracker::Close() {
    m_display = nullptr;
    m_width = m_height = 0;
}

bool CursorTracker::TakeNotice(const XEvent& event) {
    if (!m_display || event.type != m_notifyEvent)
        return false;
    m_stale = true;
    return true;
}

void CursorTracker::Update() {
    if (!m_display || !m_stale)
        return;
    m_stale = false;
    Load();
}

void CursorTracker::Load() {
    std::unique_ptr<XFixesCursorImage, FreeCursorImage> image(XFixesGetCursorImage(m_display));
    if (!image) {
        m_width = m_height = 0;
        return;
    }
    m_width = image->width;
    m_height = image->height;
    m_hotSpotX = image->xhot;
    m_hotSpotY = image->yhot;
    // XFixes hands each 32-bit pixel over in a long.
    m_pixels.assign(image->pixels, image->pixels + static_cast<size_t>(m_width) * m_height);
}
