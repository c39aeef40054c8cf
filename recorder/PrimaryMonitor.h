#pragma once

#include <X11/Xlib.h>

// A rectangle of the root window, in root pixels.
struct ScreenArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The primary monitor's rectangle as RandR reports it, clipped to the root
// window; the whole root window when no monitor is marked primary or the
// server lacks RandR 1.5 monitors.
ScreenArea PrimaryMonitorArea(Display* display, Window root);
