#pragma once

#include "recorder/media/RowBands.h"
#include "recorder/media/ScreenArea.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

// Tells whether anything was drawn on a window (the root window with its
// children, or the one window recorded) since the last look, and where in the
// captured area (in the window's coordinates), from the server's
// DAMAGE notices: one notice arrives when the first drawing follows a look, so a
// still screen costs no traffic at all.
class ScreenDamage {
public:
    ScreenDamage() = default;
    ~ScreenDamage();
    ScreenDamage(const ScreenDamage&) = delete;
    ScreenDamage& operator=(const ScreenDamage&) = delete;

    // False when the server has no DAMAGE; every frame then counts as changed.
    bool Open(Display* display, Window window, const ScreenArea& area);
    void Close();
    // Lets go without a word to the server, whose connection is lost.
    void Forget();
    bool active() const { return m_damage != 0; }

    // True when the event is a damage notice. The damage is taken back at once,
    // so drawing after this call brings the next notice, and where it lay is kept.
    bool TakeNotice(const XEvent& event);
    // Where the area was drawn on since the last call, as bands of rows with
    // their columns (the whole area at first: the watch starts with all of the
    // screen damaged).
    RowBands TakeDamagedRows();

private:
    void KeepRows(XserverRegion damaged);

    Display* m_display = nullptr;
    Damage m_damage = 0;
    XserverRegion m_parts = 0; // receives what each notice's subtraction took
    ScreenArea m_area;
    RowBands m_rows;
    int m_notifyEvent = 0;
};
