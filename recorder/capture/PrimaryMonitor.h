#pragma once

#include "recorder/media/ScreenArea.h"

#include <X11/Xlib.h>

// The primary monitor's rectangle as RandR reports it, clipped to the root
// window; the whole root window when no monitor is marked primary or the
// server lacks RandR 1.5 monitors.
ScreenArea PrimaryMonitorArea(Display* display, Window root);
