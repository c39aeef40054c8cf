#include "hooklib/KeyDeviceHook.h"

std::unique_ptr<KeyDeviceHook> KeyDeviceHook::Start(Window target, keynames::KeyShowing showing,
                                                    const std::string& folder) {
    if (showing == keynames::KeyShowing::Off)
        return nullptr;
    std::unique_ptr<KeyDeviceHook> hook(new KeyDeviceHook(target, showing, folder));
    return hook->Begin() ? std::move(hook) : nullptr;
}

KeyDeviceHook::~KeyDeviceHook() {
    End();
}

void KeyDeviceHook::Take(Display* display, const KeyRecord& record) {
    const int keycode = int(record.code + kXKeycodeOffset);
    if (const auto message = m_keys.Take(display, keycode, record.pressed))
        Report(*message);
}
