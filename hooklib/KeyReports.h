#pragma once

#include "hooklib/ClickChannel.h"
#include "hooklib/KeyNames.h"

#include <X11/Xlib.h>
#include <cstdint>
#include <optional>

// What a recording is told of the keyboard's presses and releases, given by X
// keycode: each press that may be shown (keynames::IsShown) becomes message 1013
// with its keysym and the modifiers held. Keysyms follow the keyboard layout in use
// (the group XKB says is active, Shift applied). Releases only keep track of the
// modifiers; nothing else about keys is kept.
class KeyReports {
public:
    explicit KeyReports(keynames::KeyShowing showing) : m_showing(showing) {}

    // The message for this press or release, if it is one to send.
    std::optional<clickchannel::WindowMessage> Take(Display* display, int keycode, bool pressed);

private:
    const keynames::KeyShowing m_showing;
    uint32_t m_modifiers = 0; // held now, as the presses and releases tell
};
