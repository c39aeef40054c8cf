#pragma once

#include <cstdint>

// The hook library's only exports. Between setMyHook and clearMyHook every left
// and right button press on the desktop is reported to the window as message 1010
// or 1011 (see ClickChannel.h); middle and extra buttons, the wheel, releases and
// moves are not. One hook per process. On a Wayland desktop the presses come from
// the input devices this user may read; when there is none, the window is sent
// message 1012 once instead.
extern "C" {

// 1 when the hook is in place. 0 when a hook is already active (nothing changes),
// when window is 0, or when the display or (on X11) its XInput2 is missing; in the last case
// the message box "Error: _hook" is shown first and 0 returned once it is dismissed.
int setMyHook(uint32_t window);

// Non-zero when the hook set for window was removed; 0 when window is 0 or not the
// hooked window (the hook then stays).
int clearMyHook(uint32_t window);
}
