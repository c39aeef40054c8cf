#pragma once

#include "recorder/media/ScreenArea.h"
#include "settings/AreaChoice.h"

#include <X11/Xlib.h>

#include <string>
#include <vector>

// The primary monitor's rectangle as RandR reports it, clipped to the root
// window; the whole root window when no monitor is marked primary or the
// server lacks RandR 1.5 monitors.
ScreenArea PrimaryMonitorArea(Display* display, Window root);

struct NamedMonitor {
    std::string name; // the output's, as RandR names the monitor
    ScreenArea area;  // clipped to the root window
};
// The RandR monitors that show part of the root window, in RandR's order; none
// without RandR 1.5.
std::vector<NamedMonitor> ListMonitors(Display* display, Window root);

struct ResolvedArea {
    ScreenArea area;
    AreaFallback fallback = AreaFallback::Kept;
};

// The rectangle to record for a choice: the primary monitor's, the bounding box
// of all screens (the root window), a monitor's or the region clipped to the
// screen. Any but the primary's has an even width and height, as 4:2:0 encoders
// need. A choice that cannot be had gives the primary monitor, and says why; so
// does a window, which is asked for here only when it could not be recorded.
ResolvedArea ResolveArea(Display* display, Window root, const AreaChoice& choice);
