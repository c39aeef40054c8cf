#include "hooklib/RawKeyHook.h"

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
    if (const auto message = m_keys.Take(display, event.detail, eventType == XI_RawKeyPress))
        Report(*message);
}
