#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

// Tells whether anything was drawn on the root window (its children included)
// since the last look, from the server's DAMAGE notices: one notice arrives when
// the first drawing follows a look, so a still screen costs no traffic at all.
class ScreenDamage {
public:
    ScreenDamage() = default;
    ~ScreenDamage();
    ScreenDamage(const ScreenDamage&) = delete;
    ScreenDamage& operator=(const ScreenDamage&) = delete;

    // False when the server has no DAMAGE; every frame then counts as changed.
    bool Open(Display* display, Window root);
    void Close();
    // Lets go without a word to the server, whose connection is lost.
    void Forget();
    bool active() const { return m_damage != 0; }

    // True when the event is a damage notice. The damage is taken back at once,
    // so drawing after this call brings the next notice.
    bool TakeNotice(const XEvent& event);

private:
    Display* m_display = nullptr;
    Damage m_damage = 0;
    int m_notifyEvent = 0;
};
