#pragma once

// A running watch on the desktop's button presses, reporting left and right presses
// to one window as 1010 and 1011 (see ClickChannel.h); it stops when destroyed.
class ButtonHook {
public:
    virtual ~ButtonHook() = default;
};
