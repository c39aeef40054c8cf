#pragma once

#include <cstdint>

// A recent mouse press, drawn as a growing circle for a few frames.
struct ClickMark {
    int32_t x = 0; // root-window pixels on X11, the stream's pixels on a portal
    int32_t y = 0;
    bool left = true;
    int32_t size = 0; // current diameter
};
