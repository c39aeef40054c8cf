#pragma once

#include "hooklib/KeyNames.h"
#include "hooklib/RawEventHook.h"

#include <memory>

// Watches the desktop's keyboard while a recording shows keys, and reports each
// press that may be shown (keynames::IsShown) to one window as message 1013 with
// its keysym and the modifiers held. Keysyms follow the keyboard layout in use
// (the group XKB says is active, Shift applied). Releases only keep track of the
// modifiers; nothing else about keys leaves the watching thread.
class RawKeyHook : private RawEventHook {
public:
    // Null when there is no display or the server lacks XInput2.
    static std::unique_ptr<RawKeyHook> Start(Window target, keynames::KeyShowing showing);
    ~RawKeyHook() override;

private:
    RawKeyHook(Window target, keynames::KeyShowing showing)
        : RawEventHook(target), m_showing(showing) {}
    void Select(Display* display) override;
    void Dispatch(Display* display, int eventType, const XIRawEvent& event) override;

    const keynames::KeyShowing m_showing;
    uint32_t m_modifiers = 0; // held now, as the raw presses and releases tell
};
