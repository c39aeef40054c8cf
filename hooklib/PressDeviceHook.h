#pragma once

#include "hooklib/ButtonHook.h"
#include "hooklib/InputDeviceHook.h"

#include <memory>
#include <string>

// Reports left and right presses to one window as 1010 and 1011, reading them from
// the pointer devices (see InputDeviceHook). When none of them can be read at the
// start, the window is told once (kNoPressDevices) and the hook goes on, ready for
// devices that come later.
class PressDeviceHook : public ButtonHook, private InputDeviceHook {
public:
    // Null when no X server can be reached. Devices are read from the moment this
    // returns.
    static std::unique_ptr<PressDeviceHook> Start(Window target,
                                                  const std::string& folder = "/dev/input");
    ~PressDeviceHook() override;

    using InputDeviceHook::Watch;

private:
    PressDeviceHook(Window target, std::string folder)
        : InputDeviceHook(target, std::move(folder), InputDeviceKind::Pointer) {}
    void NoDevices() override;
    void Take(Display* display, const KeyRecord& record) override;
};
