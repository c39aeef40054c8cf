#include "hooklib/KeyReports.h"

#include <X11/XKBlib.h>

namespace {

// The layout group in use and whether Shift applies, as XKB says now.
KeySym KeysymOf(Display* display, int keycode, bool shifted) {
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    return XkbKeycodeToKeysym(display, KeyCode(keycode), state.group, shifted ? 1 : 0);
}

} // namespace

std::optional<clickchannel::WindowMessage> KeyReports::Take(Display* display, int keycode,
                                                            bool pressed) {
    // The modifier keys are known by their unshifted keysym.
    if (const uint32_t modifier = keynames::ModifierOf(KeysymOf(display, keycode, false))) {
        m_modifiers = pressed ? m_modifiers | modifier : m_modifiers & ~modifier;
        return std::nullopt;
    }
    if (!pressed)
        return std::nullopt;
    const KeySym keysym = KeysymOf(display, keycode, m_modifiers & keynames::kShift);
    if (!keynames::IsShown(keysym, m_modifiers, m_showing))
        return std::nullopt;
    return clickchannel::WindowMessage{clickchannel::kKeyDown, uint32_t(keysym), m_modifiers};
}
