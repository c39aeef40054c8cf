#include "recorder/capture/ScreenDamage.h"

#include <memory>
#include <utility>

namespace {

struct FreeRectangles {
    void operator()(XRectangle* rectangles) const { XFree(rectangles); }
};

} // namespace

ScreenDamage::~ScreenDamage() {
    Close();
}

bool ScreenDamage::Open(Display* display, Window window, const ScreenArea& area) {
    Close();
    int eventBase = 0;
    int errorBase = 0;
    int fixesEventBase = 0;
    int fixesErrorBase = 0;
    if (!XDamageQueryExtension(display, &eventBase, &errorBase) ||
        !XFixesQueryExtension(display, &fixesEventBase, &fixesErrorBase))
        return false;
    m_display = display;
    m_area = area;
    m_notifyEvent = eventBase + XDamageNotify;
    m_parts = XFixesCreateRegion(display, nullptr, 0);
    m_damage = XDamageCreate(display, window, XDamageReportNonEmpty);
    return m_damage != 0;
}

void ScreenDamage::Close() {
    if (m_damage != 0)
        XDamageDestroy(m_display, m_damage);
    if (m_parts != 0)
        XFixesDestroyRegion(m_display, m_parts);
    Forget();
}

void ScreenDamage::Forget() {
    m_damage = 0;
    m_parts = 0;
    m_display = nullptr;
    m_rows.Clear();
}

bool ScreenDamage::TakeNotice(const XEvent& event) {
    if (m_damage == 0 || event.type != m_notifyEvent)
        return false;
    XDamageSubtract(m_display, m_damage, None, m_parts);
    KeepRows(m_parts);
    return true;
}

// Where the server cannot list the rectangles, all rows count as drawn on.
void ScreenDamage::KeepRows(XserverRegion damaged) {
    int count = 0;
    std::unique_ptr<XRectangle, FreeRectangles> rectangles(
        XFixesFetchRegion(m_display, damaged, &count));
    if (!rectangles) {
        m_rows = RowBands::Whole(m_area.height);
        return;
    }
    for (int index = 0; index < count; ++index) {
        const XRectangle& rectangle = rectangles.get()[index];
        const int left = rectangle.x - m_area.x;
        const int top = rectangle.y - m_area.y;
        m_rows.Add({top, top + rectangle.height, left, left + rectangle.width}, m_area.height);
    }
}

RowBands ScreenDamage::TakeDamagedRows() {
    return std::exchange(m_rows, RowBands{});
}
