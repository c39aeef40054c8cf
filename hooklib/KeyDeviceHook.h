#pragma once

#include "hooklib/InputDeviceHook.h"
#include "hooklib/KeyHook.h"
#include "hooklib/KeyNames.h"
#include "hooklib/KeyReports.h"

#include <memory>
#include <string>

// Watches the keyboards while a recording shows keys, reading them from the keyboard
// devices (see InputDeviceHook), and reports the keys that may be shown (see
// KeyReports). The keyboard layout in use is the one the window's X server has
// (XWayland has the compositor's). Without keys to show, no keyboard is opened.
class KeyDeviceHook : public KeyHook, private InputDeviceHook {
public:
    // Null when keys are not shown or no X server can be reached. Keyboards are read
    // from the moment this returns.
    static std::unique_ptr<KeyDeviceHook> Start(Window target, keynames::KeyShowing showing,
                                                const std::string& folder = "/dev/input");
    ~KeyDeviceHook() override;

    using InputDeviceHook::Watch;

private:
    KeyDeviceHook(Window target, keynames::KeyShowing showing, std::string folder)
        : InputDeviceHook(target, std::move(folder), InputDeviceKind::Keyboard), m_keys(showing) {}
    void Take(Display* display, const KeyRecord& record) override;

    KeyReports m_keys;
};
