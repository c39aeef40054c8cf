#include "hooklib/RawKeyHook.h"

#include <X11/XKBlib.h>

namespace {

// The layout group in use and whether Shift applies, as XKB says now.
KeySym KeysymOf(Display* display, int keycode, bool shifted) {
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    return XkbKeycodeToKeysym(display, KeyCode(keycode), state.group, shifted ? 1 : 0);
}

} // namespace

std::unique_ptr<RawKeyHook> RawKeyHook::Start(Window target, keynames::KeyShowing showing) {
    if (showing == keynames::KeyShowing::Off)
        return nullptr;
    std::unique_ptr<RawKeyHook> hook(new RawKeyHook(target, showing));
    return hook->Begin() ? std::move(hook) : nullptr;
}

RawKeyHook::~RawKeyHook() {
    End();
}

void RawKeyHook::Select(Display* display) {
    unsigned char mask[XIMaskLen(XI_RawKeyRelease)] = {};
    XISetMask(mask, XI_RawKeyPress);
    XISetMask(mask, XI_RawKeyRelease);
    // Master devices only: each key then comes once, not once more per slave device.
    XIEventMask selection{XIAllMasterDevices, sizeof mask, mask};
    XISelectEvents(display, DefaultRootWindow(display), &selection, 1);
}

void RawKeyHook::Dispatch(Display* display, int eventType, const XIRawEvent& event) {
    if (eventType != XI_RawKeyPress && eventType != XI_RawKeyRelease)
        return;
    const KeySym keysym = KeysymOf(display, event.detail, m_modifiers & keynames::kShift);
    // The modifier keys are known by their unshifted keysym.
    const uint32_t modifier = keynames::ModifierOf(KeysymOf(display, event.detail, false));
    if (modifier != 0) {
        m_modifiers =
            eventType == XI_RawKeyPress ? m_modifiers | modifier : m_modifiers & ~modifier;
        return;
    }
    if (eventType == XI_RawKeyPress && keynames::IsShown(keysym, m_modifiers, m_showing))
        Report({clickchannel::kKeyDown, uint32_t(keysym), m_modifiers});
}
