#pragma once

#include "hooklib/ButtonHook.h"
#include "hooklib/RawEventHook.h"

#include <memory>

// Watches every button press on the desktop and reports left and right presses to
// one window: 1010 for the left button, 1011 for the right. The presses come as
// XInput2 raw events, so presses that other clients grab, and presses on any
// window, are seen alike.
class RawButtonHook : public ButtonHook, private RawEventHook {
public:
    // Null when there is no display or the server lacks XInput2. Presses are
    // watched from the moment this returns.
    static std::unique_ptr<RawButtonHook> Start(Window target);
    ~RawButtonHook() override;

private:
    explicit RawButtonHook(Window target) : RawEventHook(target) {}
    void Select(Display* display) override;
    void Dispatch(Display* display, int eventType, const XIRawEvent& event) override;
};
