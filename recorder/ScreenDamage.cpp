#include "recorder/ScreenDamage.h"

ScreenDamage::~ScreenDamage() {
    Close();
}

bool ScreenDamage::Open(Display* display, Window root) {
    Close();
    int eventBase = 0;
    int errorBase = 0;
    if (!XDamageQueryExtension(display, &eventBase, &errorBase))
        return false;
    m_display = display;
    m_notifyEvent = eventBase + XDamageNotify;
    m_damage = XDamageCreate(display, root, XDamageReportNonEmpty);
    return m_damage != 0;
}

void ScreenDamage::Close() {
    if (m_damage != 0)
        XDamageDestroy(m_display, m_damage);
    Forget();
}

void ScreenDamage::Forget() {
    m_damage = 0;
    m_display = nullptr;
}

bool ScreenDamage::TakeNotice(const XEvent& event) {
    if (m_damage == 0 || event.type != m_notifyEvent)
        return false;
    XDamageSubtract(m_display, m_damage, None, None);
    return true;
}
