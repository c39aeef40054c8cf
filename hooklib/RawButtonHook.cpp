#include "hooklib/RawButtonHook.h"

std::unique_ptr<RawButtonHook> RawButtonHook::Start(Window target) {
    std::unique_ptr<RawButtonHook> hook(new RawButtonHook(target));
    return hook->Begin() ? std::move(hook) : nullptr;
}

RawButtonHook::~RawButtonHook() {
    End();
}

void RawButtonHook::Select(Display* display) {
    unsigned char mask[XIMaskLen(XI_RawButtonPress)] = {};
    XISetMask(mask, XI_RawButtonPress);
    // Master devices only: each press then comes once, not once more per slave device.
    XIEventMask selection{XIAllMasterDevices, sizeof mask, mask};
    XISelectEvents(display, DefaultRootWindow(display), &selection, 1);
}

void RawButtonHook::Dispatch(Display*, int eventType, const XIRawEvent& event) {
    if (eventType != XI_RawButtonPress)
        return;
    if (event.detail == Button1)
        Report({clickchannel::kLeftButtonDown});
    else if (event.detail == Button3)
        Report({clickchannel::kRightButtonDown});
}
