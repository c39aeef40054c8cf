#include "hooklib/PressDeviceHook.h"

std::unique_ptr<PressDeviceHook> PressDeviceHook::Start(Window target, const std::string& folder) {
    std::unique_ptr<PressDeviceHook> hook(new PressDeviceHook(target, folder));
    return hook->Begin() ? std::move(hook) : nullptr;
}

PressDeviceHook::~PressDeviceHook() {
    End();
}

void PressDeviceHook::NoDevices() {
    Report({clickchannel::kNoPressDevices});
}

void PressDeviceHook::Take(Display*, const KeyRecord& record) {
    Report(
        {record.code == BTN_LEFT ? clickchannel::kLeftButtonDown : clickchannel::kRightButtonDown});
}
